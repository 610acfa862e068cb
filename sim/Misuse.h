// What a model saw the program do wrong: a count per kind and the first few as text. Models note misuse
// instead of failing, so that tests can assert on it and a person debugging can read it; noting one is
// cheap enough for the rare case and costs nothing when nothing goes wrong.
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

constexpr size_t kMisuseTextsKept = 16;

// `Kind` is an enum class numbered from 0 to Kinds - 1.
template <typename Kind, size_t Kinds> class MisuseRecord {
public:
    uint64_t Count(Kind kind) const { return counts_[static_cast<size_t>(kind)]; }
    uint64_t Total() const {
        uint64_t total = 0;
        for (uint64_t count : counts_)
            total += count;
        return total;
    }
    // "name detail", the detail printf-style; the text is returned for a trace line.
    const char* Note(Kind kind, const char* name, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
    {
        ++counts_[static_cast<size_t>(kind)];
        const int used = std::snprintf(last_, sizeof last_, "%s ", name);
        va_list args;
        va_start(args, format);
        if (used > 0 && static_cast<size_t>(used) < sizeof last_)
            std::vsnprintf(last_ + used, sizeof last_ - static_cast<size_t>(used), format, args);
        va_end(args);
        if (texts_.size() < kMisuseTextsKept)
            texts_.push_back(last_);
        return last_;
    }
    const std::vector<std::string>& First() const {
        return texts_;
    }

private:
    std::array<uint64_t, Kinds> counts_{};
    std::vector<std::string> texts_;
    char last_[128] = {};
};

} // namespace sim
