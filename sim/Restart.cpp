#include "sim/Restart.h"

#include "sim/Text.h"

namespace sim {

namespace {

constexpr uint32_t kRegExpandSz = 2;

void Collect(const RegTree& tree, const std::wstring& path, std::vector<RunOnceEntry>& out) {
    const auto key = tree.find(FoldCase(RegistryStore::NormalizePath(path)));
    if (key == tree.end())
        return;
    for (const auto& value : key->second.values) {
        const RegEntry& entry = value.second;
        if (entry.type != kRegSz && entry.type != kRegExpandSz)
            continue;
        RunOnceEntry run;
        run.key = key->second.path;
        run.name = entry.name;
        run.command = RegistryText(entry.data);
        run.expand = entry.type == kRegExpandSz;
        run.deleteAfter = !entry.name.empty() && entry.name[0] == L'!';
        out.push_back(run);
    }
}

} // namespace

std::wstring RegistryText(const std::string& data) {
    std::wstring text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const wchar_t c =
            static_cast<wchar_t>(static_cast<uint8_t>(data[i]) | static_cast<uint8_t>(data[i + 1]) << 8);
        if (c == 0)
            break;
        text += c;
    }
    return text;
}

RunOnceQueue RunOnceQueue::AtLogon(const RegistryStore& store, bool os64) {
    RunOnceQueue queue;
    const RegTree tree = store.Load();
    Collect(tree, kRunOnceKey, queue.entries_);
    if (os64)
        Collect(tree, kRunOnceKey32, queue.entries_);
    return queue;
}

bool RunOnceQueue::Next(RegistryStore& store, RunOnceEntry& entry) {
    while (next_ < entries_.size()) {
        const RunOnceEntry& candidate = entries_[next_++];
        uint32_t type = 0;
        std::string data;
        if (store.QueryValue(candidate.key, candidate.name, 1u << 20, type, data) != kRegSuccess)
            continue; // deleted meanwhile: not run
        if (!candidate.deleteAfter && store.DeleteValue(candidate.key, candidate.name) != kRegSuccess)
            continue; // a value that cannot be deleted is not run, or it would run at every logon
        entry = candidate;
        return true;
    }
    return false;
}

void RunOnceQueue::Finished(RegistryStore& store, const RunOnceEntry& entry) {
    if (entry.deleteAfter)
        store.DeleteValue(entry.key, entry.name);
}

bool RestartMachine(const std::string& dir, const WindowsSide& side,
                    const std::function<bool(int& done, std::string& failures)>& fileMoves,
                    RestartReport& report) {
    report = RestartReport();
    ProcessTable table;
    if (!table.Load(dir))
        return false;
    table.Clear();
    if (!table.Save(dir))
        return false;
    if (fileMoves && !fileMoves(report.fileMoves, report.moveFailures))
        return false;
    std::vector<DisplayDevice> devices = side.devices;
    if (!LoadDeviceStates(dir, devices))
        return false;
    report.deviceChanges = ApplyPendingDeviceChanges(devices);
    PowerState power;
    if (!SaveDeviceStates(dir, devices) || !LoadPower(dir, side.power, power))
        return false;
    report.requested = power.restart.requested;
    PowerAtRestart(power);
    if (!SavePower(dir, power))
        return false;
    table.StartSystem(UserSessions(side.sessions));
    return table.Save(dir);
}

bool FinishLogon(const std::string& dir, const WindowsSide& side) {
    if (!side.desktopManager)
        return true;
    ProcessTable table;
    if (!table.Load(dir))
        return false;
    const uint64_t now = table.MachineMs();
    for (const ProcessEntry& p : table.Snapshot(now)) {
        if (p.image == "explorer.exe")
            StartLumoAtLogon(table, side.lumo, LumoFolder(side.os64), p.session, p.pid, now);
    }
    return table.Save(dir);
}

} // namespace sim
