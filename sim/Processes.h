// The processes, Windows sessions and named events of the simulated machine, as the Tool Help snapshot,
// TerminateProcess, the session list and CreateEvent/OpenEvent/SetEvent see them.
//
// A process may carry simple behaviour that stands in for a real program: it holds a named event for its
// lifetime (created at start, or opened when it exists), it exits some time after that event is set, and
// after being terminated it may come back (a new process with the same image and behaviour) some time
// later. Time is the machine's: callers pass their own clock (the virtual clock of the simulated platform),
// and the table advances by the time that passed on that clock since the last call; time does not pass
// between one process's last call and another's first. Named events live while a handle to them is open:
// the processes that hold them, and the handles callers open.
//
// The state lives in "DIR/processes.ini"; callers load it, act, and save it at the points where another
// process may look (after a start, a termination, a set event), not per call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/Fields.h"

namespace sim {

// WTS_CONNECTSTATE_CLASS values.
constexpr uint32_t kWtsActive = 0;
constexpr uint32_t kWtsDisconnected = 4;

struct SessionInfo {
    uint32_t id = 0;
    std::string station; // "Services", "Console", "RDP-Tcp#1"
    uint32_t state = kWtsActive;
};

// Section [sessions] of the description.
struct SessionSettings {
    std::string users = "1";       // "users": the logged-on user sessions, ';'-separated ids ("1;2")
    bool enumerationFails = false; // "enumeration-fails": WTSEnumerateSessions fails
};
const std::vector<Field<SessionSettings>>& SessionFields();
// Session 0 ("Services", disconnected) and the user sessions, the first "Console", the others "RDP-Tcp#N".
// False (the list empty) when the settings say the enumeration fails.
bool EnumerateSessions(const SessionSettings& settings, std::vector<SessionInfo>& sessions);
std::vector<uint32_t> UserSessions(const SessionSettings& settings);

struct ProcessEntry {
    uint32_t pid = 0, parentPid = 0, session = 0;
    std::string image; // the executable file name, as the snapshot reports it ("Veskora.Lumo.Core.exe")
    std::string path;  // the Windows path of the executable
    bool canTerminate = true;
    // Behaviour (see the file comment).
    std::string holdsEvent;    // full event name ("Global\\X" or a session-local name); empty: none
    bool exitsOnEvent = false; // ends exitDelayMs after its held event is set
    uint32_t exitDelayMs = 0;
    uint32_t respawns = 0; // how often it comes back after being terminated
    uint32_t respawnMs = 0;
};

// The outcome of TerminateProcess.
enum class TerminateResult { Done, AccessDenied, NoSuchProcess };

class ProcessTable {
public:
    // Loads "DIR/processes.ini"; a missing file is an empty table. False when the file cannot be read.
    bool Load(const std::string& dir);
    bool Save(const std::string& dir) const;

    // Ends every process, event and pending action (a restart), keeping the machine clock.
    void Clear();
    // The processes Windows runs at start-up: the idle process and System, session 0's services, and per
    // user session its csrss, winlogon and explorer.
    void StartSystem(const std::vector<uint32_t>& userSessions);

    // Starts a process (pid assigned here, multiples of 4 as on Windows); it creates or opens its held event.
    uint32_t Start(ProcessEntry entry, uint64_t nowMs);
    // A process ending by itself: its handles close, its events may vanish.
    void Exit(uint32_t pid, uint32_t exitCode, uint64_t nowMs);
    TerminateResult Terminate(uint32_t pid, uint32_t exitCode, uint64_t nowMs);
    // The running processes in pid order (the order Tool Help walks them here).
    std::vector<ProcessEntry> Snapshot(uint64_t nowMs);
    const ProcessEntry* Find(uint32_t pid) const;
    // The exit code of an ended process; false while it runs or when the pid was never used.
    bool ExitCode(uint32_t pid, uint32_t& code) const;

    // Named events. `name` is as the caller gives it: "Global\\X" is the machine-wide namespace, "Local\\X"
    // or a plain "X" the caller's session (session 0's local namespace is the global one). Names compare
    // with case, as the object manager does for Win32 objects. A handle is owned by `pid`.
    uint32_t CreateEvent(uint32_t pid, uint32_t session, const std::string& name, bool manualReset,
                         bool initiallySet, bool& existed, uint64_t nowMs);
    uint32_t OpenEvent(uint32_t pid, uint32_t session, const std::string& name); // 0: no such event
    bool SetEvent(uint32_t handle, uint64_t nowMs);
    bool IsEventSet(uint32_t handle) const;
    void CloseHandle(uint32_t handle, uint64_t nowMs);
    bool EventExists(uint32_t session, const std::string& name) const;

    uint64_t MachineMs() const { return machineMs_; }

    // Names the calling process (0: none, the default). A table that a named caller saved and loads again
    // goes on from that caller's last clock reading, so the machine's time moves on with the caller's
    // across its many loads (a respawn due later comes when the caller's clock gets there); any other
    // caller's first reading only sets its own starting point.
    static void SetCaller(uint64_t id);

private:
    struct EventObject {
        bool manualReset = true;
        bool set = false;
    };
    struct Handle {
        uint32_t owner = 0;
        std::string object; // namespaced event key
    };
    struct Pending {
        uint64_t atMs = 0;
        bool respawn = false; // false: an exit of `pid`
        uint32_t pid = 0;
        ProcessEntry entry; // the process that comes back
    };

    void Advance(uint64_t nowMs);
    void RunDue();
    void EndProcess(uint32_t pid, uint32_t exitCode);
    void DropUnreferenced();
    void Signalled(const std::string& object);
    void HoldEvent(const ProcessEntry& entry);
    static std::string EventKey(uint32_t session, const std::string& name);
    uint32_t AddHandle(uint32_t owner, const std::string& object);

    std::map<uint32_t, ProcessEntry> processes_;
    std::map<uint32_t, uint32_t> exitCodes_; // ended processes
    std::map<std::string, EventObject> events_;
    std::map<uint32_t, Handle> handles_;
    std::vector<Pending> pending_;
    uint32_t nextPid_ = 8;
    uint32_t nextHandle_ = 0x10;
    uint64_t machineMs_ = 0;
    bool synced_ = false; // the caller's clock has been seen since the load
    uint64_t lastCallerMs_ = 0;
    uint64_t caller_ = 0; // who made the last reading, as saved
};

} // namespace sim
