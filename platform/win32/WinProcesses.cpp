// Process control on Win32: exit, priority, and the named mutex and shared mapping that processes of the
// program use to coordinate.
#include <windows.h>

#include <cstdio>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

HANDLE AsHandle(uintptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

class WinProcesses final : public Processes {
public:
    // The exit code is passed on whole: codes above 255 (45067) reach the caller of the process.
    [[noreturn]] void Exit(int code) override {
        std::fflush(nullptr);
        ::ExitProcess(static_cast<UINT>(code));
    }

    void SetHighPriority() override { ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS); }

    // Default security, not initially owned; an existing mutex of that name is opened.
    uintptr_t CreateNamedMutex(const std::wstring& name) override {
        return reinterpret_cast<uintptr_t>(::CreateMutexW(nullptr, FALSE, name.c_str()));
    }

    WaitResult WaitForMutex(uintptr_t mutex, uint32_t milliseconds) override {
        switch (::WaitForSingleObject(AsHandle(mutex), milliseconds)) {
        case WAIT_OBJECT_0:
            return WaitResult::Acquired;
        case WAIT_ABANDONED:
            return WaitResult::Abandoned;
        case WAIT_TIMEOUT:
            return WaitResult::Timeout;
        default:
            return WaitResult::Failed;
        }
    }

    void ReleaseNamedMutex(uintptr_t mutex) override { ::ReleaseMutex(AsHandle(mutex)); }

    // Opened with full access when it exists; otherwise created backed by the paging file, which hands out
    // zeroed pages. Another process may create it between the two calls: the create then opens that one
    // and says so through ERROR_ALREADY_EXISTS.
    uintptr_t OpenOrCreateMapping(const std::wstring& name, uint32_t size, bool& created) override {
        created = false;
        HANDLE mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
        if (mapping != nullptr) {
            return reinterpret_cast<uintptr_t>(mapping);
        }
        mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
        if (mapping == nullptr) {
            return 0;
        }
        created = ::GetLastError() != ERROR_ALREADY_EXISTS;
        return reinterpret_cast<uintptr_t>(mapping);
    }

    void* MapView(uintptr_t mapping) override {
        return ::MapViewOfFile(AsHandle(mapping), FILE_MAP_ALL_ACCESS, 0, 0, 0);
    }

    void UnmapView(void* view) override {
        if (view != nullptr) {
            ::UnmapViewOfFile(view);
        }
    }

    void CloseHandle(uintptr_t handle) override {
        if (handle != 0) {
            ::CloseHandle(AsHandle(handle));
        }
    }
};

} // namespace

std::unique_ptr<Processes> CreateProcesses() {
    return std::make_unique<WinProcesses>();
}

} // namespace plat::win
