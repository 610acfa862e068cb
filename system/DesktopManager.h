// The maker's desktop manager, Lumoview: closed through its per-session close event and then by ending its
// processes, its settings exported to a file with its command-line tool before the update and imported
// afterwards, its core started again when the run ends without a restart.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "system/ChildProcesses.h"

class CDesktopManager {
public:
    // A process that refuses to end is tried again in this many passes, 2 seconds apart, before the run goes
    // on without waiting for it.
    static constexpr int kMaxTerminatePasses = 15;
    static constexpr uint32_t kPassPauseMs = 2000;
    static constexpr uint32_t kExportWaitMs = 10000;
    static constexpr uint32_t kStartBeforeImportMs = 10000;
    static constexpr uint32_t kStartAtEndMs = 1000;

    CDesktopManager(plat::Platform& platform, CChildProcesses& children);

    // The settings file in the temporary folder and the desktop manager's folder under the 32-bit
    // program-files folder ("%programfiles(x86)%", or "%programfiles%" where that is not defined).
    void BuildPaths(const std::wstring& tempFolder);

    // Sets the close event of every Windows session that has one.
    void SignalLumoCoreClose();
    // Ends every core and start-up process, pass after pass, until a pass finds none, or kMaxTerminatePasses
    // passes found one that would not end.
    void TerminateLumoProcesses();
    void Close() {
        SignalLumoCoreClose();
        TerminateLumoProcesses();
    }
    // The export tool writes the settings file (waited for up to 10 seconds).
    void ExportLumoSettings();
    // The import tool reads the settings file back (no time limit); its exit code, 42 when there is none.
    uint32_t ImportLumoSettings();
    void StartLumoCore(uint32_t waitMs);

    // The settings file's bytes, as they are; false when it cannot be read.
    bool ReadSettingsFile(std::string& bytes);
    // Replaces the settings file with exactly these bytes.
    bool WriteSettingsFile(const std::string& bytes);

    std::wstring ExportCommand() const;
    std::wstring ImportCommand() const;
    std::wstring CoreProgram() const { return folder_ + L"Veskora.Lumo.Core.exe"; }
    const std::wstring& SettingsFile() const { return settingsFile_; }

    // Set whenever a close event was set or a process ended; cleared once the core was started for an import.
    bool Closed() const { return closed_.load(std::memory_order_relaxed); }
    void ClearClosed() { closed_.store(false, std::memory_order_relaxed); }
    // The passes the last TerminateLumoProcesses took.
    int LastPasses() const { return lastPasses_; }

private:
    plat::Platform& platform_;
    CChildProcesses& children_;
    std::wstring settingsFile_;
    std::wstring folder_;
    // Written by the main thread and by an I2C transfer's thread; read by the main thread.
    std::atomic<bool> closed_{false};
    int lastPasses_ = 0;
};
