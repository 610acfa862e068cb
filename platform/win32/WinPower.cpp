// Power, scheduling and restart on Win32: the priority class, the execution state, the active power
// scheme's AC values, the shutdown privilege and the restart request.
#include <windows.h>

#include <powrprof.h>

#include "platform/Platform.h"
#include "platform/win32/WinHandle.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

GUID ToGuid(const PowerGuid& g) {
    GUID out;
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    for (int i = 0; i < 8; ++i) {
        out.Data4[i] = g.data4[i];
    }
    return out;
}

class WinPower final : public Power {
public:
    void SetHighPriority() override { ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS); }

    void SetExecutionState(uint32_t flags) override {
        ::SetThreadExecutionState(static_cast<EXECUTION_STATE>(flags));
    }

    // The scheme is kept for the life of the process; it is never freed.
    bool TakeActiveScheme() override {
        GUID* scheme = nullptr;
        if (::PowerGetActiveScheme(nullptr, &scheme) != ERROR_SUCCESS || scheme == nullptr) {
            return false;
        }
        scheme_ = scheme;
        return true;
    }

    bool ReadAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t& value) override {
        if (scheme_ == nullptr) {
            return false;
        }
        const GUID sub = ToGuid(subgroup);
        const GUID set = ToGuid(setting);
        DWORD read = 0;
        if (::PowerReadACValueIndex(nullptr, scheme_, &sub, &set, &read) != ERROR_SUCCESS) {
            return false;
        }
        value = read;
        return true;
    }

    bool WriteAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t value) override {
        if (scheme_ == nullptr) {
            return false;
        }
        const GUID sub = ToGuid(subgroup);
        const GUID set = ToGuid(setting);
        return ::PowerWriteACValueIndex(nullptr, scheme_, &sub, &set, value) == ERROR_SUCCESS;
    }

    bool ActivateScheme() override {
        return scheme_ != nullptr && ::PowerSetActiveScheme(nullptr, scheme_) == ERROR_SUCCESS;
    }

    bool EnableShutdownPrivilege() override {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            return false;
        }
        ScopedHandle owned(token);
        TOKEN_PRIVILEGES privileges = {};
        if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
            return false;
        }
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        return ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
               ::GetLastError() == ERROR_SUCCESS;
    }

    bool RequestRestart(uint32_t timeoutSeconds, bool forceAppsClosed, bool rebootAfterShutdown,
                        uint32_t reason) override {
        return ::InitiateSystemShutdownExW(nullptr, nullptr, timeoutSeconds, forceAppsClosed ? TRUE : FALSE,
                                           rebootAfterShutdown ? TRUE : FALSE, reason) != FALSE;
    }

private:
    GUID* scheme_ = nullptr;
};

} // namespace

std::unique_ptr<Power> CreatePower() {
    return std::make_unique<WinPower>();
}

} // namespace plat::win
