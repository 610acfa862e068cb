#include "system/DesktopManager.h"

#include <cwchar>
#include <vector>

namespace {

const wchar_t kCloseEventPrefix[] = L"Global\\VskLumoCoreCloseEvent";
const wchar_t* const kLumoProcesses[] = {L"Veskora.Lumo.Core.exe", L"Veskora.Lumo.Startup.exe"};

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

} // namespace

CDesktopManager::CDesktopManager(plat::Platform& platform, CChildProcesses& children)
    : platform_(platform), children_(children) {}

void CDesktopManager::BuildPaths(const std::wstring& tempFolder) {
    settingsFile_ = tempFolder + L"lvcfg.txt";
    std::wstring programFiles;
    if (!platform_.env->GetVariable(L"programfiles(x86)", programFiles))
        platform_.env->GetVariable(L"programfiles", programFiles);
    if (programFiles.size() > 260)
        programFiles.resize(260);
    folder_ = programFiles + L"\\Veskora Graphics\\Lumoview\\";
}

// Both paths are quoted: the program-files folder holds blanks, and an unquoted path with blanks would
// start whatever program its first word names ("C:\Program.exe").
std::wstring CDesktopManager::ExportCommand() const {
    return Quoted(folder_ + L"Veskora.LumoCmd.exe") + L" /export " + Quoted(settingsFile_);
}

std::wstring CDesktopManager::ImportCommand() const {
    return Quoted(folder_ + L"Veskora.LumoCmd.exe") + L" /import " + Quoted(settingsFile_);
}

void CDesktopManager::SignalLumoCoreClose() {
    std::vector<uint32_t> sessions;
    if (!platform_.processes->EnumerateSessions(sessions))
        return;
    for (const uint32_t session : sessions) {
        wchar_t name[64];
        std::swprintf(name, sizeof name / sizeof name[0], L"%ls_%u", kCloseEventPrefix, session);
        if (platform_.namedObjects->SignalEvent(name))
            closed_.store(true, std::memory_order_relaxed);
    }
}

void CDesktopManager::TerminateLumoProcesses() {
    lastPasses_ = 0;
    for (int pass = 0; pass < kMaxTerminatePasses; ++pass) {
        ++lastPasses_;
        bool found = false;
        std::vector<plat::ProcessInfo> processes;
        if (platform_.processes->Snapshot(processes)) {
            for (const plat::ProcessInfo& process : processes) {
                for (const wchar_t* image : kLumoProcesses) {
                    if (process.image != image)
                        continue;
                    platform_.processes->Terminate(process.pid, 0);
                    found = true;
                    closed_.store(true, std::memory_order_relaxed);
                }
            }
        }
        // The pause gives a core that restarts itself the time to come back, so the next pass finds it.
        platform_.clock->SleepMs(kPassPauseMs);
        if (!found)
            return;
    }
}

void CDesktopManager::ExportLumoSettings() {
    children_.RunChildProcess(ExportCommand(), kExportWaitMs);
}

uint32_t CDesktopManager::ImportLumoSettings() {
    return children_.RunChildProcess(ImportCommand(), plat::kWaitForever);
}

void CDesktopManager::StartLumoCore(uint32_t waitMs) {
    children_.RunChildProcess(Quoted(CoreProgram()), waitMs);
}

bool CDesktopManager::ReadSettingsFile(std::string& bytes) {
    std::vector<uint8_t> data;
    if (platform_.files->ReadWhole(settingsFile_, data) != plat::ReadStatus::Ok)
        return false;
    bytes.assign(data.begin(), data.end());
    return true;
}

bool CDesktopManager::WriteSettingsFile(const std::string& bytes) {
    return platform_.files->WriteWhole(settingsFile_, bytes);
}
