// Move-only owners for Win32 handles. One template, one traits class per kind of handle: the traits say
// what an empty handle looks like and how to close one. Replacing or closing a handle keeps the thread's
// last-error value, so code can store a handle and still read the error of the call that made it.
#pragma once

#include <windows.h>

namespace plat::win {

template <typename Traits> class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    ~UniqueHandle() { Close(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    Type Get() const { return handle_; }
    bool IsValid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return IsValid(); }

    // Takes ownership of a new handle, closing the old one.
    void Reset(Type handle = Traits::Empty()) {
        const DWORD lastError = ::GetLastError();
        Close();
        handle_ = handle;
        ::SetLastError(lastError);
    }

    // Gives up ownership without closing.
    Type Release() {
        const Type handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }

    // For calls that return a handle through an out-parameter: closes the current one first.
    Type* Receive() {
        Reset();
        return &handle_;
    }

private:
    void Close() {
        if (Traits::IsValid(handle_)) {
            const DWORD lastError = ::GetLastError();
            Traits::Close(handle_);
            ::SetLastError(lastError);
        }
        handle_ = Traits::Empty();
    }

    Type handle_ = Traits::Empty();
};

// Kernel object handles: both NULL and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};

using ScopedHandle = UniqueHandle<KernelHandleTraits>;
using ScopedKey = UniqueHandle<RegKeyTraits>;
using ScopedModule = UniqueHandle<ModuleTraits>;

// Looks up an export and gives it the caller's function type. The detour through void(*)() is the one
// cast between function types that the compiler accepts without a warning.
template <typename Fn> Fn GetProc(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

} // namespace plat::win
