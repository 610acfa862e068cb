// Child processes, the process table, sessions, named events and power of the simulated machine: the
// platform's calls over the Windows-side models of sim/ (WindowsSide, Processes, Power).
#include <cstdio>

#include "platform/sim/SimParts.h"
#include "sim/DesktopManager.h"
#include "sim/Power.h"
#include "sim/Processes.h"
#include "sim/ProgramStart.h"
#include "sim/Text.h"
#include "sim/WindowsSide.h"

namespace plat::simbackend {

namespace {

constexpr const char* kProgramImage = "VskQ740FwUpdater.exe";
// The program runs in the first user session.
uint32_t ProgramSession(const sim::WindowsSide& side) {
    const std::vector<uint32_t> users = sim::UserSessions(side.sessions);
    return users.empty() ? 1 : users.front();
}

bool LoadSide(const SimMachine& machine, sim::WindowsSide& side) {
    std::string error;
    return sim::ReadWindowsSide(machine.description, side, error);
}

std::string GuidText(const PowerGuid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2,
                  g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                  g.data4[7]);
    return text;
}

} // namespace

ChildRun SimProcesses::RunChild(ChildPipe& pipe, const std::wstring& commandLine, uint32_t waitMs,
                                const PipeSink& sink) {
    ChildRun run;
    sim::WindowsSide side;
    if (!pipe || !LoadSide(machine_, side))
        return run;
    const sim::ChildRun child =
        sim::StartProgram(machine_.dir, side, sim::ToUtf8(commandLine), "C:\\Windows\\System32",
                          ProgramSession(side), 0, clock_.ProcessMilliseconds());
    if (child.startError != 0)
        return run;
    run.started = true;
    if (!child.output.empty() && sink)
        sink(child.output.data(), child.output.size());
    // A program that keeps running (the desktop manager's core) uses up the whole wait.
    const bool ends = !child.keepsRunning && (waitMs == kWaitForever || child.runMs <= waitMs);
    clock_.SleepMs(ends ? child.runMs : waitMs);
    run.ended = ends;
    if (ends && child.exitCodeReadable) {
        run.exitCodeKnown = true;
        run.exitCode = child.exitCode;
    } else if (!ends) {
        run.exitCodeKnown = true;
        run.exitCode = sim::kStillActive;
    }
    return run;
}

bool SimProcesses::Snapshot(std::vector<ProcessInfo>& processes) {
    sim::ProcessTable table;
    if (!table.Load(machine_.dir))
        return false;
    processes.clear();
    for (const sim::ProcessEntry& p : table.Snapshot(clock_.ProcessMilliseconds()))
        processes.push_back({p.pid, p.session, sim::FromUtf8(p.image)});
    return table.Save(machine_.dir);
}

bool SimProcesses::Terminate(uint32_t pid, uint32_t exitCode) {
    sim::ProcessTable table;
    if (!table.Load(machine_.dir))
        return false;
    const sim::TerminateResult result = table.Terminate(pid, exitCode, clock_.ProcessMilliseconds());
    table.Save(machine_.dir);
    return result == sim::TerminateResult::Done;
}

bool SimProcesses::EnumerateSessions(std::vector<uint32_t>& sessionIds) {
    sim::WindowsSide side;
    std::vector<sim::SessionInfo> sessions;
    if (!LoadSide(machine_, side) || !sim::EnumerateSessions(side.sessions, sessions))
        return false;
    sessionIds.clear();
    for (const sim::SessionInfo& s : sessions)
        sessionIds.push_back(s.id);
    return true;
}

bool SimNamedObjects::SignalEvent(const std::wstring& name) {
    sim::WindowsSide side;
    sim::ProcessTable table;
    if (!LoadSide(machine_, side) || !table.Load(machine_.dir))
        return false;
    const uint64_t now = clock_.ProcessMilliseconds();
    const uint32_t handle = table.OpenEvent(0, ProgramSession(side), sim::ToUtf8(name));
    if (handle == 0)
        return false;
    table.SetEvent(handle, now);
    table.CloseHandle(handle, now);
    table.Save(machine_.dir);
    return true;
}

void SimPower::SetHighPriority() {
    ++machine_.highPriority;
    sim::WindowsSide side;
    sim::PowerState state;
    if (LoadSide(machine_, side) && sim::LoadPower(machine_.dir, side.power, state) &&
        sim::SetPriorityClass(state, kProgramImage, 0x80))
        sim::SavePower(machine_.dir, state);
}

void SimPower::SetExecutionState(uint32_t flags) {
    sim::WindowsSide side;
    sim::PowerState state;
    if (LoadSide(machine_, side) && sim::LoadPower(machine_.dir, side.power, state)) {
        sim::SetExecutionState(state, kProgramImage, flags);
        sim::SavePower(machine_.dir, state);
    }
}

bool SimPower::TakeActiveScheme() {
    sim::WindowsSide side;
    sim::PowerState state;
    if (!LoadSide(machine_, side) || !sim::LoadPower(machine_.dir, side.power, state) ||
        state.activeScheme.empty())
        return false;
    scheme_ = state.activeScheme;
    return true;
}

bool SimPower::ReadAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t& value) {
    sim::WindowsSide side;
    sim::PowerState state;
    if (scheme_.empty() || !LoadSide(machine_, side) || !sim::LoadPower(machine_.dir, side.power, state))
        return false;
    uint32_t read = 0;
    if (sim::ReadAcValue(state, side.power, scheme_, GuidText(subgroup), GuidText(setting), read) != 0)
        return false;
    value = read;
    return true;
}

bool SimPower::WriteAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t value) {
    sim::WindowsSide side;
    sim::PowerState state;
    if (scheme_.empty() || !LoadSide(machine_, side) || !sim::LoadPower(machine_.dir, side.power, state))
        return false;
    if (sim::WriteAcValue(state, side.power, scheme_, GuidText(subgroup), GuidText(setting), value) != 0)
        return false;
    return sim::SavePower(machine_.dir, state);
}

bool SimPower::ActivateScheme() {
    sim::WindowsSide side;
    sim::PowerState state;
    if (scheme_.empty() || !LoadSide(machine_, side) || !sim::LoadPower(machine_.dir, side.power, state))
        return false;
    return sim::ActivateScheme(state, scheme_) == 0 && sim::SavePower(machine_.dir, state);
}

bool SimPower::EnableShutdownPrivilege() {
    sim::WindowsSide side;
    sim::PowerState state;
    if (!LoadSide(machine_, side) || !sim::LoadPower(machine_.dir, side.power, state))
        return false;
    const uint32_t status = sim::EnableShutdownPrivilege(state, side.power);
    sim::SavePower(machine_.dir, state);
    return status == 0;
}

bool SimPower::RequestRestart(uint32_t timeoutSeconds, bool forceAppsClosed, bool rebootAfterShutdown,
                              uint32_t reason) {
    sim::WindowsSide side;
    sim::PowerState state;
    if (!LoadSide(machine_, side) || !sim::LoadPower(machine_.dir, side.power, state))
        return false;
    const uint32_t status = sim::RequestShutdown(state, side.power, kProgramImage, timeoutSeconds,
                                                 forceAppsClosed, rebootAfterShutdown, reason);
    sim::SavePower(machine_.dir, state);
    return status == 0;
}

} // namespace plat::simbackend
