// A restart of the simulated machine, in the order Windows does it: every process ends; the restart-time
// file moves run (before anything could hold the files); the devices come up, so pending disables and
// enables take effect; power requests end with their processes; the system processes start. Then the user
// logs on: the shell runs the HKLM RunOnce entries one after another, each waited for, before the
// programs that start with every logon (the desktop manager) come up.
//
// RunOnce as the shell runs it: the 64-bit view's key, then on 64-bit Windows the 32-bit view's own key
// (WOW6432Node); within a key in the order the registry lists the values (here: by name, the store keeps
// no creation order). Each value is deleted before its command runs, except a name that starts with "!",
// which is deleted after it; a value removed meanwhile by someone else is not run. Commands run with the
// shell's folder, C:\Windows\System32, as their current folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/Registry.h"
#include "sim/WindowsSide.h"

namespace sim {

constexpr const wchar_t* kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kRunOnceKey32 =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const char* kShellFolder = "C:\\Windows\\System32";

struct RunOnceEntry {
    std::wstring key;
    std::wstring name;
    std::wstring command; // the value's text (REG_SZ, or REG_EXPAND_SZ as stored)
    bool expand = false;  // REG_EXPAND_SZ: the shell expands %variables% before running it
    bool deleteAfter = false;
};

// A REG_SZ's text: UTF-16LE up to the first NUL (an odd last byte is dropped).
std::wstring RegistryText(const std::string& data);

class RunOnceQueue {
public:
    // The entries present at logon. Values that are no strings are left alone.
    static RunOnceQueue AtLogon(const RegistryStore& store, bool os64);
    // The next entry to run, its value deleted first (or, for "!", left until Finished). False at the end.
    bool Next(RegistryStore& store, RunOnceEntry& entry);
    // After the entry's command has run: deletes a "!" value.
    void Finished(RegistryStore& store, const RunOnceEntry& entry);
    size_t Remaining() const { return entries_.size() - next_; }

private:
    std::vector<RunOnceEntry> entries_;
    size_t next_ = 0;
};

struct RestartReport {
    int fileMoves = 0;
    std::string moveFailures; // one line per pair that could not be carried out
    int deviceChanges = 0;    // pending disables and enables carried out
    bool requested = false;   // a restart had been asked for (else the machine was switched off and on)
};

// The restart up to the logon. `fileMoves` carries out PendingFileRenameOperations (the simulated
// platform's), reporting how many pairs it carried out and the failures; false when the registry could
// not be written, which fails the restart. The states are saved in DIR.
bool RestartMachine(const std::string& dir, const WindowsSide& side,
                    const std::function<bool(int& done, std::string& failures)>& fileMoves,
                    RestartReport& report);
// After the RunOnce entries: the desktop manager starts in every user session (when installed).
bool FinishLogon(const std::string& dir, const WindowsSide& side);

} // namespace sim
