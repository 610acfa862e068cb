// Named kernel objects on Win32: the mutex and the shared mapping that processes of the program use to
// coordinate.
#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

HANDLE AsHandle(uintptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

class WinNamedObjects final : public NamedObjects {
protected:
    // Default security, not initially owned; an existing mutex of that name is opened.
    uintptr_t CreateMutexHandle(const std::wstring& name) override {
        return reinterpret_cast<uintptr_t>(::CreateMutexW(nullptr, FALSE, name.c_str()));
    }

    NamedMutex::WaitResult WaitForMutex(uintptr_t mutex, uint32_t milliseconds) override {
        switch (::WaitForSingleObject(AsHandle(mutex), milliseconds)) {
        case WAIT_OBJECT_0:
            return NamedMutex::WaitResult::Acquired;
        case WAIT_ABANDONED:
            return NamedMutex::WaitResult::Abandoned;
        case WAIT_TIMEOUT:
            return NamedMutex::WaitResult::Timeout;
        default:
            return NamedMutex::WaitResult::Failed;
        }
    }

    void ReleaseMutexHandle(uintptr_t mutex) override { ::ReleaseMutex(AsHandle(mutex)); }

    // Opened with full access when it exists; otherwise created backed by the paging file, which hands out
    // zeroed pages. Another process may create it between the two calls: the create then opens that one
    // and says so through ERROR_ALREADY_EXISTS.
    uintptr_t OpenOrCreateMappingHandle(const std::wstring& name, uint32_t size, bool& created) override {
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

    void UnmapView(void* view) override { ::UnmapViewOfFile(view); }

    void CloseObject(uintptr_t handle) override { ::CloseHandle(AsHandle(handle)); }

public:
    bool SignalEvent(const std::wstring& name) override {
        const HANDLE event = ::OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str());
        if (event == nullptr) {
            return false;
        }
        ::SetEvent(event);
        ::CloseHandle(event);
        return true;
    }
};

} // namespace

std::unique_ptr<NamedObjects> CreateNamedObjects() {
    return std::make_unique<WinNamedObjects>();
}

} // namespace plat::win
