// The stand-in uninstaller of the hardware-access service: removes the files the program installs and the
// service's uninstall entry, printing one line per step. With "/n" it only prints what it would remove.
// Files in use (this program itself, a loaded library) are scheduled for deletion at the next restart.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t* const kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VskVxdSC";

template <typename Fn> Fn Proc(const wchar_t* module, const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

bool Is64BitWindows() {
    using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    const auto getNativeSystemInfo = Proc<GetNativeSystemInfoFn>(L"kernel32.dll", "GetNativeSystemInfo");
    if (getNativeSystemInfo == nullptr) {
        return false;
    }
    SYSTEM_INFO info{};
    getNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// The same targets the program writes, in the same order.
std::vector<std::wstring> InstalledFiles(bool win64) {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    std::wstring windows(buffer, length < MAX_PATH ? length : 0);
    if (windows.empty() || windows.back() != L'\\') {
        windows += L'\\';
    }
    const std::wstring system = windows + L"System32";
    const std::wstring wow = win64 ? windows + L"SysWOW64" : system;
    std::vector<std::wstring> files{system + L"\\drivers\\VskVxdSC.sys", wow + L"\\VskVxdSC.dll"};
    if (win64) {
        files.push_back(system + L"\\VskVxdSC.dll");
    }
    files.push_back(wow + L"\\VskVxdSCUninstall.exe");
    return files;
}

// Deleted now, scheduled for the next restart, or left: 0, 1 or 2.
int RemoveFile(const std::wstring& path, bool dryRun) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::wprintf(L"not present: %ls\n", path.c_str());
        return 0;
    }
    if (dryRun) {
        std::wprintf(L"would remove: %ls\n", path.c_str());
        return 0;
    }
    if (::DeleteFileW(path.c_str())) {
        std::wprintf(L"removed: %ls\n", path.c_str());
        return 0;
    }
    if (::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        std::wprintf(L"removed at the next restart: %ls\n", path.c_str());
        return 1;
    }
    std::wprintf(L"cannot remove: %ls (error %lu)\n", path.c_str(), ::GetLastError());
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool dryRun = argc > 1 && (std::wcscmp(argv[1], L"/n") == 0 || std::wcscmp(argv[1], L"-n") == 0);
    const bool win64 = Is64BitWindows();

    // A 32-bit uninstaller on 64-bit Windows must see the real System32.
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    using RevertFn = BOOL(WINAPI*)(PVOID);
    const auto disable = Proc<DisableFn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
    const auto revert = Proc<RevertFn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
    void* oldValue = nullptr;
    const bool redirected = win64 && disable != nullptr && revert != nullptr && disable(&oldValue);

    int worst = 0;
    for (const std::wstring& path : InstalledFiles(win64)) {
        const int result = RemoveFile(path, dryRun);
        worst = result > worst ? result : worst;
    }
    if (redirected) {
        revert(oldValue);
    }

    // The program writes the entry in the 32-bit view on 64-bit Windows.
    const REGSAM view = win64 ? KEY_WOW64_32KEY : 0;
    if (dryRun) {
        std::wprintf(L"would delete: HKLM\\%ls\n", kUninstallKey);
    } else {
        using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
        const auto deleteKeyEx = Proc<RegDeleteKeyExFn>(L"advapi32.dll", "RegDeleteKeyExW");
        const LONG status = deleteKeyEx != nullptr
                                ? deleteKeyEx(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_ALL_ACCESS | view, 0)
                                : ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
            std::wprintf(L"deleted: HKLM\\%ls\n", kUninstallKey);
        } else {
            std::wprintf(L"cannot delete: HKLM\\%ls (error %ld)\n", kUninstallKey, status);
            worst = 2;
        }
    }
    return worst == 2 ? 1 : 0;
}
