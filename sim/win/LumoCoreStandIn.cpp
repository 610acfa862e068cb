// The stand-in "Veskora.Lumo.Core.exe": a long-running process that holds its session's close event
// ("Global\VskLumoCoreCloseEvent_<session>", created or opened) and ends when the event is set, after the
// machine's close-ms. One core per session: a second one finds the first and ends at once. It lets go of
// the standard handles it inherited, so it never keeps its starter's output pipe open, and ends on its
// own after an hour so that no test leaves it behind for long.
#include <windows.h>

#include <string>

#include "sim/DesktopManager.h"
#include "sim/win/StandIn.h"
#include "sim/win/WinText.h"

int wmain() {
    const DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD which : handles) {
        const HANDLE h = ::GetStdHandle(which);
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            ::SetStdHandle(which, nullptr);
        }
    }
    const sim::WindowsSide side = simwin::LoadWindowsSide(simwin::MachineFolderFromEnvironment());
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    HANDLE instance = ::CreateMutexW(nullptr, FALSE, L"Local\\VskLumoCoreInstance");
    if (instance == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    const DWORD hour = 60 * 60 * 1000;
    if (!side.lumo.closeEvent) {
        ::Sleep(hour);
        return 0;
    }
    const std::wstring name = simwin::ToWide(sim::LumoCloseEventName(session));
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (event == nullptr) {
        ::Sleep(hour);
        return 0;
    }
    if (::WaitForSingleObject(event, hour) == WAIT_OBJECT_0) {
        ::Sleep(side.lumo.closeMs);
    }
    ::CloseHandle(event);
    ::CloseHandle(instance);
    return 0;
}
