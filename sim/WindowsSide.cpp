#include "sim/WindowsSide.h"

#include "sim/Files.h"
#include "sim/ProgramStart.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"

namespace sim {

namespace {

template <class Settings>
bool ReadSection(const MachineDescription& machine, const char* name,
                 const std::vector<Field<Settings>>& fields, Settings& settings, std::string& error) {
    for (const IniSection& section : machine.extraSections) {
        if (FoldCaseAscii(Trim(section.name)) != FoldCaseAscii(name))
            continue;
        const FieldError bad = ReadFields(fields, section.entries, settings);
        if (bad)
            error = std::string("[") + name + "] bad value of " + bad.key + ": " + bad.value;
        return !bad;
    }
    return true;
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Runs the driver tool on the machine's devices and keeps what it changed.
ChildRun RunTool(const std::string& dir, const WindowsSide& side, const std::string& commandLine) {
    std::vector<DisplayDevice> devices = side.devices;
    LoadDeviceStates(dir, devices);
    const ToolRun run = RunDriverTool(side.driver, devices, side.tool, SplitArguments(commandLine));
    ChildRun child;
    child.startError = run.started ? 0 : run.startError;
    child.output = run.output;
    child.exitCode = run.exitCode;
    child.exitCodeReadable = run.exitCodeReadable;
    child.runMs = run.runMs;
    if (!run.changes.empty()) {
        ApplyToolRun(run, devices);
        SaveDeviceStates(dir, devices);
    }
    return child;
}

} // namespace

bool ReadWindowsSide(const MachineDescription& machine, WindowsSide& side, std::string& error) {
    side = WindowsSide();
    side.os64 = machine.os64;
    side.tool.windowsMajor = machine.windowsMajor;
    side.tool.windowsMinor = machine.windowsMinor;
    side.desktopManager = machine.desktopManagerInstalled;
    side.driver.vendorDriver = machine.displayDriverInstalled;
    side.devices = DevicesOf(machine.pci);
    bool ok = ReadSection(machine, "display-driver", DisplayDriverFields(), side.driver, error);
    std::string more;
    if (!ReadSection(machine, "desktop-manager", DesktopManagerFields(), side.lumo, more) && ok) {
        error = more;
        ok = false;
    }
    if (!ReadSection(machine, "sessions", SessionFields(), side.sessions, more) && ok) {
        error = more;
        ok = false;
    }
    if (!ReadSection(machine, "power", PowerFields(), side.power, more) && ok) {
        error = more;
        ok = false;
    }
    return ok;
}

std::vector<DisplayDevice> DevicesOf(const std::vector<PciFunction>& functions) {
    std::vector<DisplayDevice> devices;
    for (const PciFunction& f : functions) {
        DisplayDevice d;
        d.bus = f.bus;
        d.device = f.device;
        d.function = f.function;
        d.vendorId = f.vendorId;
        d.deviceId = f.deviceId;
        d.subsystem = f.subsystem;
        d.revision = f.revision;
        d.classCode = f.classCode;
        devices.push_back(d);
    }
    return devices;
}

bool InstallWindowsSide(const std::string& dir, const WindowsSide& side, std::string& error) {
    MachineFiles files(dir);
    if (side.desktopManager) {
        const std::string folder = LumoFolder(side.os64);
        const bool written =
            files.Write(folder + kLumoCmdImage, ProgramImage(ProgramKind::LumoCmd, "")) &&
            files.Write(folder + kLumoCoreImage, ProgramImage(ProgramKind::LumoCore, "")) &&
            files.Write(folder + kLumoStartupImage, ProgramImage(ProgramKind::LumoStartup, ""));
        if (!written) {
            error = "cannot write the desktop manager's programs into " + dir;
            return false;
        }
    }
    ProcessTable table;
    if (!table.Load(dir)) {
        error = "cannot read " + dir + "/processes.ini";
        return false;
    }
    if (table.Snapshot(0).empty()) {
        table.StartSystem(UserSessions(side.sessions));
        if (side.desktopManager) {
            for (const ProcessEntry& p : table.Snapshot(0)) {
                if (p.image == "explorer.exe")
                    StartLumoAtLogon(table, side.lumo, LumoFolder(side.os64), p.session, p.pid, 0);
            }
        }
    }
    PowerState power;
    if (!table.Save(dir) || !LoadPower(dir, side.power, power) || !SavePower(dir, power)) {
        error = "cannot write the processes and power state of " + dir;
        return false;
    }
    return true;
}

bool MachineFiles::Read(const std::string& windowsPath, std::string& bytes) {
    const std::string path = MapPath(dir_, windowsPath);
    return !IsDirectory(path) && ReadFile(path, bytes);
}

bool MachineFiles::Write(const std::string& windowsPath, const std::string& bytes) {
    const std::string path = MapPathForChange(dir_, windowsPath);
    if (path.empty())
        return false;
    const std::string folder = ParentFolder(path);
    return (folder.empty() || MakeDirectories(folder)) && WriteFileAtomic(path, bytes);
}

bool MachineFiles::IsFile(const std::string& windowsPath) {
    const std::string path = MapPath(dir_, windowsPath);
    return PathExists(path) && !IsDirectory(path);
}

ChildRun StartProgram(const std::string& dir, const WindowsSide& side, const std::string& commandLine,
                      const std::string& currentFolder, uint32_t session, uint32_t parentPid,
                      uint64_t nowMs) {
    ChildRun child;
    MachineFiles files(dir);
    const ResolvedModule module =
        ResolveModule(commandLine, {currentFolder, "C:\\Windows\\System32", "C:\\Windows"},
                      [&](const std::string& path) { return files.IsFile(path); });
    std::string image;
    if (module.error != 0 || !files.Read(module.module, image)) {
        child.startError = module.error != 0 ? module.error : kErrorFileNotFound;
        return child;
    }
    const std::string folder = FolderPart(module.module);
    switch (IdentifyProgram(image)) {
    case ProgramKind::NotAProgram:
        child.startError = kErrorBadExeFormat;
        return child;
    case ProgramKind::DriverTool:
        return RunTool(dir, side, commandLine);
    case ProgramKind::LumoCmd: {
        const LumoCmdRun run = RunLumoCmd(side.lumo, module.arguments, files);
        child.output = run.output;
        child.exitCode = run.exitCode;
        child.exitCodeReadable = run.exitCodeReadable;
        child.runMs = run.runMs;
        return child;
    }
    case ProgramKind::LumoCore:
    case ProgramKind::LumoStartup: {
        ProcessTable table;
        if (!table.Load(dir)) {
            child.startError = kErrorAccessDenied;
            return child;
        }
        const bool core = IdentifyProgram(image) == ProgramKind::LumoCore;
        if (core) {
            child.pid = StartLumoCore(table, side.lumo, folder, session, parentPid, nowMs);
        } else {
            child.pid = table.Start(LumoStartupProcess(side.lumo, folder, session, parentPid), nowMs);
            StartLumoCore(table, side.lumo, folder, session, child.pid, nowMs);
        }
        table.Save(dir);
        child.keepsRunning = table.Find(child.pid) != nullptr;
        return child;
    }
    }
    return child;
}

std::string DriverToolImage(bool x64) {
    return ProgramImage(ProgramKind::DriverTool, x64 ? "x64" : "x86");
}

} // namespace sim
