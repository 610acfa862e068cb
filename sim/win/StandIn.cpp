#include "sim/win/StandIn.h"

#include "sim/ProgramStart.h"
#include "sim/win/WinText.h"

namespace simwin {

std::string MachineFolderFromEnvironment() {
    std::wstring folder(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length =
            ::GetEnvironmentVariableW(L"VSK_SIM_MACHINE", &folder[0], static_cast<DWORD>(folder.size()));
        if (length == 0) {
            return {};
        }
        if (length < folder.size()) {
            folder.resize(length);
            return ToUtf8(folder);
        }
        folder.assign(length, L'\0');
    }
    return {};
}

sim::WindowsSide LoadWindowsSide(const std::string& folder) {
    sim::MachineDescription machine;
    std::string error;
    sim::WindowsSide side;
    if (folder.empty() || !sim::LoadMachine(folder, machine, error)) {
        machine = sim::MachineDescription();
    }
    sim::ReadWindowsSide(machine, side, error); // bad values keep their defaults
    wchar_t windir[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(windir, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        side.tool.windowsFolder = ToUtf8(std::wstring(windir, length));
    }
    return side;
}

void WriteStdout(const std::string& bytes) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < bytes.size() && out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done < 4096 ? bytes.size() - done : 4096);
        if (!::WriteFile(out, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return;
        }
        done += written;
    }
}

void ExitWith(uint32_t code, bool readable) {
    ::ExitProcess(readable ? code : sim::kStillActive);
}

} // namespace simwin
