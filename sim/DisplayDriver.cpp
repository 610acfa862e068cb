#include "sim/DisplayDriver.h"

#include <cstdio>

#include "sim/Files.h"
#include "sim/Ini.h"
#include "sim/ProgramStart.h"
#include "sim/Text.h"

namespace sim {

namespace {

const char* const kStateNames[] = {"enabled", "disabled", "disable-pending", "enable-pending"};

std::string Format(const char* format, uint32_t a, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

// devcon compares IDs without case; "*" stands for any run of characters.
bool WildcardMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// The nodes an argument names: "@" and an instance ID, or a hardware or compatible ID.
bool Matches(const DisplayDevice& device, const std::string& id) {
    const std::string folded = FoldCaseAscii(id);
    if (!folded.empty() && folded[0] == '@')
        return WildcardMatch(folded.substr(1), FoldCaseAscii(device.InstanceId()));
    for (const std::string& own : device.Ids()) {
        if (WildcardMatch(folded, FoldCaseAscii(own)))
            return true;
    }
    return false;
}

bool MatchesAny(const DisplayDevice& device, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        if (Matches(device, id))
            return true;
    }
    return false;
}

// The vendor package's files: the kernel and user-mode parts first, then numbered resource libraries up to
// the count the settings ask for.
const char* const kVendorFiles[] = {
    "system32\\DRIVERS\\atikmdag.sys", "system32\\DRIVERS\\atikmpag.sys", "system32\\DRIVERS\\amdkmdap.sys",
    "system32\\atiumd64.dll",          "system32\\atiumd6a.dll",          "system32\\atidxx64.dll",
    "system32\\amdxc64.dll",           "system32\\aticfx64.dll",          "system32\\atiadlxx.dll",
    "SysWOW64\\atiadlxy.dll",          "SysWOW64\\atiumdag.dll",          "SysWOW64\\amdxc32.dll",
};

std::string VendorListing(const DisplayDriverSettings& settings, const std::string& windir) {
    std::string text = "    Name: Veskora Q740\r\n";
    text += "    Driver installed from " + windir + "\\INF\\oem17.inf [ati2mtag_Q740]. " +
            std::to_string(settings.driverFiles) + " file(s) used by driver:\r\n";
    const size_t named = sizeof kVendorFiles / sizeof kVendorFiles[0];
    for (uint32_t i = 0; i < settings.driverFiles; ++i) {
        text += "        " + windir + "\\";
        if (i < named)
            text += kVendorFiles[i];
        else
            text += Format("System32\\DriverStore\\FileRepository\\c0317042.inf_amd64_8f2e61b0c4d3a975\\"
                           "B317042\\amdres%04u.dll",
                           i - uint32_t(named));
        text += "\r\n";
    }
    return text;
}

// What Windows runs a display adapter with when no vendor driver is installed.
// Windows 8 (6.2) and later: the basic display driver; before it, the standard VGA driver.
std::string BasicListing(const ToolMachine& machine) {
    const std::string& windir = machine.windowsFolder;
    if (machine.windowsMajor < 6 || (machine.windowsMajor == 6 && machine.windowsMinor < 2))
        return "    Name: Standard VGA Graphics Adapter\r\n    Driver installed from " + windir +
               "\\INF\\vga.inf [VGA]. 2 file(s) used by driver:\r\n        " + windir +
               "\\system32\\DRIVERS\\vgapnp.sys\r\n        " + windir +
               "\\system32\\DRIVERS\\videoprt.sys\r\n";
    return "    Name: Microsoft Basic Display Adapter\r\n    Driver installed from " + windir +
           "\\INF\\display.inf [MSBDA]. 1 file(s) used by driver:\r\n        " + windir +
           "\\system32\\DRIVERS\\BasicDisplay.sys\r\n";
}

std::string OtherListing(const DisplayDevice& device, const std::string& windir) {
    const uint32_t base = device.classCode >> 16;
    const char* name = base == 0x06   ? "PCI standard host CPU bridge"
                       : base == 0x04 ? "High Definition Audio Controller"
                       : base == 0x03 ? "Video Controller"
                                      : "PCI Device";
    return std::string("    Name: ") + name + "\r\n    Driver installed from " + windir +
           "\\INF\\machine.inf [NO_DRV]. The driver is not using any files.\r\n";
}

std::string ToolName(const std::vector<std::string>& args) {
    if (args.empty())
        return "devcon";
    std::string name = FileNamePart(args[0]);
    return name.empty() ? "devcon" : name;
}

enum class Verb { DriverFiles, Disable, Enable };

ToolRun ChangeState(const DisplayDriverSettings& settings, const std::vector<DisplayDevice>& devices,
                    const std::vector<std::string>& ids, bool disable) {
    ToolRun run;
    uint32_t matched = 0, pending = 0;
    for (size_t i = 0; i < devices.size(); ++i) {
        const DisplayDevice& device = devices[i];
        if (!MatchesAny(device, ids))
            continue;
        ++matched;
        DeviceState next = device.state;
        if (disable) {
            if (device.state == DeviceState::Enabled)
                next = settings.disableNeedsRestart ? DeviceState::DisablePending : DeviceState::Disabled;
            else if (device.state == DeviceState::EnablePending)
                next = DeviceState::Disabled; // never started again: cancelling the enable is enough
        } else {
            if (device.state == DeviceState::Disabled)
                next = settings.enableNeedsRestart ? DeviceState::EnablePending : DeviceState::Enabled;
            else if (device.state == DeviceState::DisablePending)
                next = DeviceState::Enabled; // still running: cancelling the disable is enough
        }
        const bool waits = next == DeviceState::DisablePending || next == DeviceState::EnablePending;
        if (waits)
            ++pending;
        run.output += device.InstanceId() + ": " + (disable ? "Disabled" : "Enabled") +
                      (waits ? " on reboot" : "") + "\r\n";
        if (next != device.state)
            run.changes.emplace_back(i, next);
    }
    if (matched == 0)
        run.output += disable ? "No devices disabled.\r\n" : "No devices are enabled.\r\n";
    else if (pending > 0)
        run.output +=
            Format(disable ? "Not all of %u device(s) disabled, at least one requires reboot to complete "
                             "the operation.\r\n"
                           : "Not all of %u device(s) are enabled, at least one requires reboot to "
                             "complete the operation.\r\n",
                   matched);
    else
        run.output +=
            Format(disable ? "%u device(s) disabled.\r\n" : "%u device(s) are enabled.\r\n", matched);
    run.exitCode = pending > 0 ? kDevconRestart : kDevconOk;
    return run;
}

ToolRun DriverFiles(const DisplayDriverSettings& settings, const std::vector<DisplayDevice>& devices,
                    const std::vector<std::string>& ids, const ToolMachine& machine) {
    const std::string& windir = machine.windowsFolder;
    ToolRun run;
    uint32_t matched = 0;
    for (const DisplayDevice& device : devices) {
        if (!MatchesAny(device, ids))
            continue;
        ++matched;
        run.output += device.InstanceId() + "\r\n";
        if (!device.IsQ740())
            run.output += OtherListing(device, windir);
        else if (settings.vendorDriver)
            run.output += VendorListing(settings, windir);
        else
            run.output += BasicListing(machine);
    }
    run.output += matched == 0 ? std::string("No matching devices found.\r\n")
                               : Format("%u matching device(s) found.\r\n", matched);
    return run;
}

} // namespace

const char* DeviceStateName(DeviceState state) {
    return kStateNames[static_cast<uint32_t>(state)];
}

bool ParseDeviceState(const std::string& name, DeviceState& state) {
    for (uint32_t i = 0; i < 4; ++i) {
        if (FoldCaseAscii(Trim(name)) == FoldCaseAscii(kStateNames[i])) {
            state = static_cast<DeviceState>(i);
            return true;
        }
    }
    return false;
}

const std::vector<Field<DisplayDriverSettings>>& DisplayDriverFields() {
    using S = DisplayDriverSettings;
    static const std::vector<Field<S>> fields = {
        RangeField("driver-files", &S::driverFiles, 0, 100000),
        BoolField("disable-needs-restart", &S::disableNeedsRestart),
        BoolField("enable-needs-restart", &S::enableNeedsRestart),
        BoolField("tool-starts", &S::toolStarts),
        BoolField("tool-exit-code", &S::exitCodeReadable),
        RangeField("tool-ms", &S::toolMs, 0, 600000),
    };
    return fields;
}

std::string DisplayDevice::Location() const {
    return Format("%02X:%02X.%X", bus & 0xFF, device & 0x1F, function & 7);
}

bool DisplayDevice::IsQ740() const {
    return vendorId == 0x1002 && deviceId == 0x6828;
}

std::string DisplayDevice::InstanceId() const {
    const uint32_t parent = 0x1E5A9E37u ^ (bus * 0x9E3779B1u);
    return Ids().front() + Format("\\4&%08X&0&%02X", parent, (device & 0x1F) << 3 | (function & 7));
}

std::vector<std::string> DisplayDevice::Ids() const {
    const std::string vd = Format("PCI\\VEN_%04X&DEV_%04X", vendorId & 0xFFFF, deviceId & 0xFFFF);
    const std::string sub = Format("&SUBSYS_%08X", subsystem);
    const std::string rev = Format("&REV_%02X", revision & 0xFF);
    const std::string cc6 = Format("&CC_%06X", classCode & 0xFFFFFF);
    const std::string cc4 = Format("&CC_%04X", (classCode >> 8) & 0xFFFF);
    const std::string ven = Format("PCI\\VEN_%04X", vendorId & 0xFFFF);
    return {vd + sub + rev,
            vd + sub,
            vd + cc6,
            vd + cc4,
            vd + rev,
            vd,
            ven + cc6,
            ven + cc4,
            ven,
            "PCI\\" + cc6.substr(1),
            "PCI\\" + cc4.substr(1)};
}

ToolRun RunDriverTool(const DisplayDriverSettings& settings, const std::vector<DisplayDevice>& devices,
                      const ToolMachine& machine, const std::vector<std::string>& args) {
    ToolRun run;
    if (!settings.toolStarts) {
        run.started = false;
        run.startError = kErrorAccessDenied;
        return run;
    }
    const std::string tool = ToolName(args);
    const std::string verb = args.size() > 1 ? FoldCaseAscii(args[1]) : std::string();
    const std::vector<std::string> ids(args.size() > 2 ? args.begin() + 2 : args.end(), args.end());
    if (verb == "DRIVERFILES" && !ids.empty()) {
        run = DriverFiles(settings, devices, ids, machine);
    } else if ((verb == "DISABLE" || verb == "ENABLE") && !ids.empty()) {
        run = ChangeState(settings, devices, ids, verb == "DISABLE");
    } else {
        run.output = verb.empty()
                         ? tool + " Usage: " + tool + " [-r] [-m:\\\\<machine>] <command> [<arg>...]\r\n"
                         : tool + ": Invalid use of " + args[1] + ".\r\nFor more information, type: " + tool +
                               " help " + args[1] + "\r\n";
        run.exitCode = kDevconUsage;
    }
    run.exitCodeReadable = settings.exitCodeReadable;
    run.runMs = settings.toolMs;
    return run;
}

void ApplyToolRun(const ToolRun& run, std::vector<DisplayDevice>& devices) {
    for (const auto& change : run.changes) {
        if (change.first < devices.size())
            devices[change.first].state = change.second;
    }
}

int ApplyPendingDeviceChanges(std::vector<DisplayDevice>& devices) {
    int changed = 0;
    for (DisplayDevice& device : devices) {
        if (device.state == DeviceState::DisablePending) {
            device.state = DeviceState::Disabled;
            ++changed;
        } else if (device.state == DeviceState::EnablePending) {
            device.state = DeviceState::Enabled;
            ++changed;
        }
    }
    return changed;
}

bool LoadDeviceStates(const std::string& dir, std::vector<DisplayDevice>& devices) {
    std::string text;
    if (!ReadFile(dir + "/devices.ini", text))
        return !PathExists(dir + "/devices.ini");
    const IniFile ini = ParseIni(text);
    for (DisplayDevice& device : devices) {
        device.state = DeviceState::Enabled;
        const IniSection* section = ini.FindSection("device " + device.Location());
        const std::string* state = section != nullptr ? section->Find("state") : nullptr;
        if (state != nullptr)
            ParseDeviceState(*state, device.state);
    }
    return true;
}

bool SaveDeviceStates(const std::string& dir, const std::vector<DisplayDevice>& devices) {
    IniFile ini;
    for (const DisplayDevice& device : devices) {
        if (device.state != DeviceState::Enabled)
            ini.AddSection("device " + device.Location()).Set("state", DeviceStateName(device.state));
    }
    return WriteFileAtomic(dir + "/devices.ini", FormatIni(ini));
}

} // namespace sim
