// Libraries loaded at run time by name, and their exports. A load hands out a move-only owner that frees the
// library when it goes; the module handle never reaches the logic.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace plat {

class Libraries;

// A loaded library, or none (false). Freed when the owner goes, unless it is kept for the process's life.
class Library {
public:
    Library() = default;
    ~Library() { Reset(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    Library(Library&& other) noexcept
        : from_(std::exchange(other.from_, nullptr)), module_(std::exchange(other.module_, 0)) {}
    Library& operator=(Library&& other) noexcept {
        if (this != &other) {
            Reset();
            from_ = std::exchange(other.from_, nullptr);
            module_ = std::exchange(other.module_, 0);
        }
        return *this;
    }

    explicit operator bool() const { return module_ != 0; }
    // The export of that exact name; null when it is missing or no library is held.
    inline void* Resolve(const char* symbol) const;
    // Frees the library (if one is held) and holds none.
    inline void Reset();
    // Leaves the library loaded until the process ends: the owner forgets it without freeing it.
    void KeepUntilExit() {
        from_ = nullptr;
        module_ = 0;
    }

private:
    friend class Libraries;
    Library(Libraries* from, uintptr_t module) : from_(module != 0 ? from : nullptr), module_(module) {}

    Libraries* from_ = nullptr;
    uintptr_t module_ = 0;
};

class Libraries {
public:
    virtual ~Libraries() = default;
    // Loads a library by name; an empty owner when it cannot be loaded.
    Library Load(const std::wstring& name) { return Library(this, LoadHandle(name)); }

protected:
    friend class Library;
    // What each backend provides: 0 when the library cannot be loaded; null when the export is missing.
    virtual uintptr_t LoadHandle(const std::wstring& name) = 0;
    virtual void* ResolveExport(uintptr_t module, const char* symbol) = 0;
    virtual void FreeHandle(uintptr_t module) = 0;
};

void* Library::Resolve(const char* symbol) const {
    return from_ != nullptr && symbol != nullptr ? from_->ResolveExport(module_, symbol) : nullptr;
}

void Library::Reset() {
    if (from_ != nullptr)
        from_->FreeHandle(module_);
    from_ = nullptr;
    module_ = 0;
}

} // namespace plat
