// Libraries loaded at run time by name, and their exports. A load hands out a move-only owner that frees the
// library when it goes; the module handle never reaches the logic.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Owned.h"

namespace plat {

class Libraries;

// A loaded library, or none (false). Freed when the owner goes, unless it is kept for the process's life.
class Library {
public:
    Library() = default;

    explicit operator bool() const { return static_cast<bool>(module_); }
    // The export of that exact name; null when it is missing or no library is held.
    inline void* Resolve(const char* symbol) const;
    // Frees the library (if one is held) and holds none.
    void Reset() { module_.Reset(); }
    // Leaves the library loaded until the process ends: the owner forgets it without freeing it.
    void KeepUntilExit() { module_.Forget(); }

private:
    friend class Libraries;
    struct Traits {
        using From = Libraries;
        static inline void Close(Libraries& from, uintptr_t module);
    };
    Library(Libraries* from, uintptr_t module) : module_(from, module) {}

    Owned<Traits> module_;
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
    return module_ && symbol != nullptr ? module_.Source()->ResolveExport(module_.Get(), symbol) : nullptr;
}

void Library::Traits::Close(Libraries& from, uintptr_t module) {
    from.FreeHandle(module);
}

} // namespace plat
