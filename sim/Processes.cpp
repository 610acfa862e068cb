#include "sim/Processes.h"

#include <algorithm>
#include <atomic>

#include "sim/Files.h"
#include "sim/Ini.h"
#include "sim/Text.h"

namespace sim {

namespace {

// The calling process, see ProcessTable::SetCaller.
std::atomic<uint64_t> g_caller{0};

const char kGlobal[] = "Global\\";
const char kLocal[] = "Local\\";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

uint64_t Number(const IniSection& section, const char* key, uint64_t fallback = 0) {
    const std::string* text = section.Find(key);
    uint64_t value = 0;
    return text != nullptr && ParseU64(*text, value) ? value : fallback;
}

std::string Text(const IniSection& section, const char* key) {
    const std::string* text = section.Find(key);
    return text != nullptr ? *text : std::string();
}

// Names are stored quoted, so that blanks, backslashes and any byte survive the INI text.
std::string Unquoted(const IniSection& section, const char* key) {
    std::string value;
    return Unquote(Text(section, key), value) ? value : std::string();
}

void WriteEntry(IniSection& section, const ProcessEntry& p) {
    section.Set("image", Quote(p.image));
    section.Set("path", Quote(p.path));
    section.Set("parent", std::to_string(p.parentPid));
    section.Set("session", std::to_string(p.session));
    section.Set("can-terminate", p.canTerminate ? "1" : "0");
    section.Set("holds-event", Quote(p.holdsEvent));
    section.Set("exits-on-event", p.exitsOnEvent ? "1" : "0");
    section.Set("exit-delay-ms", std::to_string(p.exitDelayMs));
    section.Set("respawns", std::to_string(p.respawns));
    section.Set("respawn-ms", std::to_string(p.respawnMs));
}

ProcessEntry ReadEntry(const IniSection& section) {
    ProcessEntry p;
    p.image = Unquoted(section, "image");
    p.path = Unquoted(section, "path");
    p.parentPid = uint32_t(Number(section, "parent"));
    p.session = uint32_t(Number(section, "session"));
    p.canTerminate = Number(section, "can-terminate", 1) != 0;
    p.holdsEvent = Unquoted(section, "holds-event");
    p.exitsOnEvent = Number(section, "exits-on-event") != 0;
    p.exitDelayMs = uint32_t(Number(section, "exit-delay-ms"));
    p.respawns = uint32_t(Number(section, "respawns"));
    p.respawnMs = uint32_t(Number(section, "respawn-ms"));
    return p;
}

} // namespace

const std::vector<Field<SessionSettings>>& SessionFields() {
    using S = SessionSettings;
    static const std::vector<Field<S>> fields = {
        TextField("users", &S::users),
        BoolField("enumeration-fails", &S::enumerationFails),
    };
    return fields;
}

std::vector<uint32_t> UserSessions(const SessionSettings& settings) {
    std::vector<uint32_t> ids;
    size_t pos = 0;
    while (pos <= settings.users.size()) {
        size_t end = settings.users.find_first_of(";,", pos);
        if (end == std::string::npos)
            end = settings.users.size();
        uint32_t id = 0;
        if (ParseU32(Trim(settings.users.substr(pos, end - pos)), id) && id != 0 &&
            std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
        pos = end + 1;
    }
    return ids;
}

bool EnumerateSessions(const SessionSettings& settings, std::vector<SessionInfo>& sessions) {
    sessions.clear();
    if (settings.enumerationFails)
        return false;
    sessions.push_back({0, "Services", kWtsDisconnected});
    int rdp = 0;
    for (uint32_t id : UserSessions(settings))
        sessions.push_back(
            {id, sessions.size() == 1 ? "Console" : "RDP-Tcp#" + std::to_string(rdp++), kWtsActive});
    return true;
}

bool ProcessTable::Load(const std::string& dir) {
    *this = ProcessTable();
    std::string text;
    const std::string path = dir + "/processes.ini";
    if (!ReadFile(path, text))
        return !PathExists(path);
    const IniFile ini = ParseIni(text);
    for (const IniSection& section : ini.sections) {
        const std::string& name = section.name;
        uint32_t id = 0;
        if (name == "table") {
            machineMs_ = Number(section, "machine-ms");
            caller_ = Number(section, "caller");
            lastCallerMs_ = Number(section, "caller-ms");
            nextPid_ = uint32_t(Number(section, "next-pid", 8));
            nextHandle_ = uint32_t(Number(section, "next-handle", 0x10));
        } else if (StartsWith(name, "process ") && ParseU32(name.substr(8), id)) {
            ProcessEntry entry = ReadEntry(section);
            entry.pid = id;
            processes_[id] = entry;
        } else if (StartsWith(name, "ended ") && ParseU32(name.substr(6), id)) {
            exitCodes_[id] = uint32_t(Number(section, "exit-code"));
        } else if (name == "event") {
            EventObject event;
            event.manualReset = Number(section, "manual-reset", 1) != 0;
            event.set = Number(section, "set") != 0;
            events_[Unquoted(section, "name")] = event;
        } else if (StartsWith(name, "handle ") && ParseU32(name.substr(7), id)) {
            handles_[id] = {uint32_t(Number(section, "owner")), Unquoted(section, "object")};
        } else if (name == "pending") {
            Pending p;
            p.atMs = Number(section, "at-ms");
            p.respawn = Text(section, "action") == "respawn";
            p.pid = uint32_t(Number(section, "pid"));
            p.entry = ReadEntry(section);
            pending_.push_back(p);
        }
    }
    return true;
}

bool ProcessTable::Save(const std::string& dir) const {
    IniFile ini;
    IniSection& table = ini.AddSection("table");
    table.Set("machine-ms", std::to_string(machineMs_));
    if (synced_ && g_caller.load() != 0) {
        table.Set("caller", std::to_string(g_caller.load()));
        table.Set("caller-ms", std::to_string(lastCallerMs_));
    }
    table.Set("next-pid", std::to_string(nextPid_));
    table.Set("next-handle", std::to_string(nextHandle_));
    for (const auto& p : processes_)
        WriteEntry(ini.AddSection("process " + std::to_string(p.first)), p.second);
    for (const auto& e : exitCodes_)
        ini.AddSection("ended " + std::to_string(e.first)).Set("exit-code", std::to_string(e.second));
    for (const auto& e : events_) {
        IniSection& section = ini.AddSection("event");
        section.Set("name", Quote(e.first));
        section.Set("manual-reset", e.second.manualReset ? "1" : "0");
        section.Set("set", e.second.set ? "1" : "0");
    }
    for (const auto& h : handles_) {
        IniSection& section = ini.AddSection("handle " + std::to_string(h.first));
        section.Set("owner", std::to_string(h.second.owner));
        section.Set("object", Quote(h.second.object));
    }
    for (const Pending& p : pending_) {
        IniSection& section = ini.AddSection("pending");
        section.Set("at-ms", std::to_string(p.atMs));
        section.Set("action", p.respawn ? "respawn" : "exit");
        section.Set("pid", std::to_string(p.pid));
        WriteEntry(section, p.entry);
    }
    return WriteFileAtomic(dir + "/processes.ini", FormatIni(ini));
}

void ProcessTable::Clear() {
    const uint64_t keep = machineMs_;
    const uint32_t pid = nextPid_;
    *this = ProcessTable();
    machineMs_ = keep;
    nextPid_ = pid;
}

// Start-up takes no time and does not take the caller's clock: the next caller's first call syncs it.
void ProcessTable::StartSystem(const std::vector<uint32_t>& userSessions) {
    const bool synced = synced_;
    auto system = [&](const char* image, uint32_t session, uint32_t parent, bool canTerminate) {
        ProcessEntry p;
        p.image = image;
        p.path = std::string("C:\\Windows\\System32\\") + image;
        p.session = session;
        p.parentPid = parent;
        p.canTerminate = canTerminate;
        return Start(p, lastCallerMs_);
    };
    ProcessEntry idle;
    idle.image = "[System Process]";
    idle.canTerminate = false;
    processes_[0] = idle;
    ProcessEntry kernel;
    kernel.pid = 4;
    kernel.image = "System";
    kernel.canTerminate = false;
    processes_[4] = kernel;
    nextPid_ = std::max<uint32_t>(nextPid_, 8);
    const uint32_t smss = system("smss.exe", 0, 4, false);
    system("csrss.exe", 0, smss, false);
    const uint32_t wininit = system("wininit.exe", 0, smss, false);
    const uint32_t services = system("services.exe", 0, wininit, false);
    system("lsass.exe", 0, wininit, false);
    system("svchost.exe", 0, services, true);
    for (uint32_t session : userSessions) {
        system("csrss.exe", session, smss, false);
        const uint32_t winlogon = system("winlogon.exe", session, smss, false);
        ProcessEntry explorer;
        explorer.image = "explorer.exe";
        explorer.path = "C:\\Windows\\explorer.exe";
        explorer.session = session;
        explorer.parentPid = winlogon;
        Start(explorer, lastCallerMs_);
    }
    synced_ = synced;
}

uint32_t ProcessTable::Start(ProcessEntry entry, uint64_t nowMs) {
    Advance(nowMs);
    entry.pid = nextPid_;
    nextPid_ += 4;
    processes_[entry.pid] = entry;
    HoldEvent(entry);
    return entry.pid;
}

void ProcessTable::Exit(uint32_t pid, uint32_t exitCode, uint64_t nowMs) {
    Advance(nowMs);
    EndProcess(pid, exitCode);
}

TerminateResult ProcessTable::Terminate(uint32_t pid, uint32_t exitCode, uint64_t nowMs) {
    Advance(nowMs);
    const auto it = processes_.find(pid);
    if (it == processes_.end())
        return TerminateResult::NoSuchProcess;
    if (!it->second.canTerminate)
        return TerminateResult::AccessDenied;
    ProcessEntry comeback = it->second;
    EndProcess(pid, exitCode);
    if (comeback.respawns > 0) {
        --comeback.respawns;
        Pending p;
        p.atMs = machineMs_ + comeback.respawnMs;
        p.respawn = true;
        p.pid = pid;
        p.entry = comeback;
        pending_.push_back(p);
        RunDue(); // a delay of 0 brings it back at once
    }
    return TerminateResult::Done;
}

std::vector<ProcessEntry> ProcessTable::Snapshot(uint64_t nowMs) {
    Advance(nowMs);
    std::vector<ProcessEntry> out;
    for (const auto& p : processes_)
        out.push_back(p.second);
    return out;
}

const ProcessEntry* ProcessTable::Find(uint32_t pid) const {
    const auto it = processes_.find(pid);
    return it == processes_.end() ? nullptr : &it->second;
}

bool ProcessTable::ExitCode(uint32_t pid, uint32_t& code) const {
    const auto it = exitCodes_.find(pid);
    if (it == exitCodes_.end())
        return false;
    code = it->second;
    return true;
}

std::string ProcessTable::EventKey(uint32_t session, const std::string& name) {
    if (StartsWith(name, kGlobal))
        return kGlobal + name.substr(std::char_traits<char>::length(kGlobal));
    const std::string bare =
        StartsWith(name, kLocal) ? name.substr(std::char_traits<char>::length(kLocal)) : name;
    if (session == 0)
        return kGlobal + bare;
    return "Session" + std::to_string(session) + "\\" + bare;
}

uint32_t ProcessTable::AddHandle(uint32_t owner, const std::string& object) {
    const uint32_t handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = {owner, object};
    return handle;
}

uint32_t ProcessTable::CreateEvent(uint32_t pid, uint32_t session, const std::string& name, bool manualReset,
                                   bool initiallySet, bool& existed, uint64_t nowMs) {
    Advance(nowMs);
    const std::string key = EventKey(session, name);
    existed = events_.count(key) != 0;
    if (!existed)
        events_[key] = {manualReset, initiallySet};
    return AddHandle(pid, key);
}

uint32_t ProcessTable::OpenEvent(uint32_t pid, uint32_t session, const std::string& name) {
    const std::string key = EventKey(session, name);
    return events_.count(key) != 0 ? AddHandle(pid, key) : 0;
}

bool ProcessTable::SetEvent(uint32_t handle, uint64_t nowMs) {
    Advance(nowMs);
    const auto it = handles_.find(handle);
    if (it == handles_.end())
        return false;
    const auto event = events_.find(it->second.object);
    if (event == events_.end())
        return false;
    event->second.set = true;
    Signalled(it->second.object);
    RunDue();
    return true;
}

bool ProcessTable::IsEventSet(uint32_t handle) const {
    const auto it = handles_.find(handle);
    if (it == handles_.end())
        return false;
    const auto event = events_.find(it->second.object);
    return event != events_.end() && event->second.set;
}

void ProcessTable::CloseHandle(uint32_t handle, uint64_t nowMs) {
    Advance(nowMs);
    handles_.erase(handle);
    DropUnreferenced();
}

bool ProcessTable::EventExists(uint32_t session, const std::string& name) const {
    return events_.count(EventKey(session, name)) != 0;
}

// Each waiting process ends its delay after the set; an auto-reset event wakes one waiter and resets.
void ProcessTable::Signalled(const std::string& object) {
    EventObject& event = events_[object];
    for (const auto& p : processes_) {
        const ProcessEntry& entry = p.second;
        if (!entry.exitsOnEvent || entry.holdsEvent.empty() ||
            EventKey(entry.session, entry.holdsEvent) != object)
            continue;
        const bool queued = std::any_of(pending_.begin(), pending_.end(),
                                        [&](const Pending& q) { return !q.respawn && q.pid == entry.pid; });
        if (!queued) {
            Pending q;
            q.atMs = machineMs_ + entry.exitDelayMs;
            q.pid = entry.pid;
            pending_.push_back(q);
        }
        if (!event.manualReset) {
            event.set = false;
            break;
        }
    }
}

void ProcessTable::EndProcess(uint32_t pid, uint32_t exitCode) {
    if (processes_.erase(pid) == 0)
        return;
    exitCodes_[pid] = exitCode;
    for (auto it = handles_.begin(); it != handles_.end();)
        it = it->second.owner == pid ? handles_.erase(it) : std::next(it);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [&](const Pending& p) { return !p.respawn && p.pid == pid; }),
                   pending_.end());
    DropUnreferenced();
}

void ProcessTable::DropUnreferenced() {
    for (auto it = events_.begin(); it != events_.end();) {
        const bool held =
            std::any_of(handles_.begin(), handles_.end(), [&](const std::pair<const uint32_t, Handle>& h) {
                return h.second.object == it->first;
            });
        it = held ? std::next(it) : events_.erase(it);
    }
}

void ProcessTable::SetCaller(uint64_t id) {
    g_caller.store(id);
}

void ProcessTable::Advance(uint64_t nowMs) {
    if (!synced_ && caller_ != 0 && caller_ == g_caller.load())
        synced_ = true; // the same caller as at the last save: its last reading is `lastCallerMs_`
    if (synced_ && nowMs > lastCallerMs_)
        machineMs_ += nowMs - lastCallerMs_;
    synced_ = true;
    lastCallerMs_ = nowMs;
    RunDue();
}

// Due actions in time order; a respawned process starts with its held event anew.
void ProcessTable::RunDue() {
    for (;;) {
        auto next = pending_.end();
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->atMs <= machineMs_ && (next == pending_.end() || it->atMs < next->atMs))
                next = it;
        }
        if (next == pending_.end())
            return;
        const Pending due = *next;
        pending_.erase(next);
        if (!due.respawn) {
            EndProcess(due.pid, 0);
            continue;
        }
        ProcessEntry entry = due.entry;
        entry.pid = nextPid_;
        nextPid_ += 4;
        processes_[entry.pid] = entry;
        HoldEvent(entry);
    }
}

// A process creates its event (or opens it when it exists); one that finds it already set ends too.
void ProcessTable::HoldEvent(const ProcessEntry& entry) {
    if (entry.holdsEvent.empty())
        return;
    const std::string key = EventKey(entry.session, entry.holdsEvent);
    if (events_.count(key) == 0)
        events_[key] = {true, false};
    AddHandle(entry.pid, key);
    if (events_[key].set)
        Signalled(key);
}

} // namespace sim
