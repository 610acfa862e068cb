// One move-only owner for every kind of handle the platform hands out, after platform/win32/WinHandle.h: the
// traits say which interface closes a handle and how. The owner remembers the interface that opened the
// handle, closes the handle once when it goes (or when replaced), and moves without closing.
#pragma once

#include <cstdint>
#include <utility>

namespace plat {

template <class Traits> class Owned {
public:
    using From = typename Traits::From;

    Owned() = default;
    Owned(From* from, uintptr_t handle) : from_(handle != 0 ? from : nullptr), handle_(handle) {}
    ~Owned() { Reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept
        : from_(std::exchange(other.from_, nullptr)), handle_(std::exchange(other.handle_, 0)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Reset();
            from_ = std::exchange(other.from_, nullptr);
            handle_ = std::exchange(other.handle_, 0);
        }
        return *this;
    }

    explicit operator bool() const { return from_ != nullptr; }
    From* Source() const { return from_; }
    uintptr_t Get() const { return handle_; }

    // Closes the handle, if one is held, and holds none.
    void Reset() {
        if (from_ != nullptr)
            Traits::Close(*from_, handle_);
        Forget();
    }
    // Gives the handle up without closing it: it stays open until the process ends.
    void Forget() {
        from_ = nullptr;
        handle_ = 0;
    }

private:
    From* from_ = nullptr;
    uintptr_t handle_ = 0;
};

} // namespace plat
