// The stand-in "Veskora.Lumo.Startup.exe": starts the core of its own folder in its session and stays while
// the core runs, ending with the core's exit code.
#include <windows.h>

#include <string>

#include "sim/DesktopManager.h"
#include "sim/win/WinText.h"

int wmain() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return 1;
    }
    path.resize(length);
    std::wstring command =
        L"\"" + path.substr(0, path.find_last_of(L'\\') + 1) + simwin::ToWide(sim::kLumoCoreImage) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return 1;
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
