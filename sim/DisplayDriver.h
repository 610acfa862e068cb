// The display driver of the simulated machine and the device-console tool that controls it ("devcon"): each
// PCI function is a device node with its hardware IDs; the Q740 nodes carry the vendor display driver or,
// without it, the basic display driver Windows installs in its place. The tool's verbs act on every node
// that an ID matches. A disable or enable that needs a restart leaves the node pending until the next
// restart, which `ApplyPendingDeviceChanges` carries out.
//
// The tool is one function over plain data, so the native simulated platform runs it in-process and the
// Windows stand-in executable runs the same code; the caller saves the state it returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Fields.h"

namespace sim {

enum class DeviceState : uint32_t { Enabled, Disabled, DisablePending, EnablePending };
const char* DeviceStateName(DeviceState state); // "enabled", "disabled", "disable-pending", "enable-pending"
bool ParseDeviceState(const std::string& name, DeviceState& state);

// Section [display-driver] of the description. Whether the vendor driver is installed comes from the
// machine (`display-driver`), not from here.
struct DisplayDriverSettings {
    bool vendorDriver = true;
    uint32_t driverFiles = 40;        // "driver-files": files the vendor driver's listing names per device
    bool disableNeedsRestart = false; // "disable-needs-restart": exit code 1, disabled after the restart
    bool enableNeedsRestart = false;  // "enable-needs-restart": exit code 1, enabled after the restart
    bool toolStarts = true;           // "tool-starts": false, the tool cannot be started (access denied)
    bool exitCodeReadable = true;     // "tool-exit-code": false, its exit code cannot be read
    uint32_t toolMs = 700;            // "tool-ms": how long one run of the tool takes (virtual time)
};
const std::vector<Field<DisplayDriverSettings>>& DisplayDriverFields();

// One device node: what the PCI function reports and the node's state.
struct DisplayDevice {
    uint32_t bus = 0, device = 0, function = 0;
    uint32_t vendorId = 0, deviceId = 0, subsystem = 0, revision = 0, classCode = 0;
    DeviceState state = DeviceState::Enabled;

    std::string Location() const; // "03:00.0"
    bool IsQ740() const;
    // "PCI\VEN_1002&DEV_6828&SUBSYS_4D17E6A2&REV_00\4&1A2B3C4D&0&0008"
    std::string InstanceId() const;
    // Hardware IDs, most specific first, then the compatible IDs, as the PCI bus driver reports them.
    std::vector<std::string> Ids() const;
};

// What one run of the tool did. `changes` pairs an index into the device list with the node's new state.
struct ToolRun {
    bool started = true;
    uint32_t startError = 0; // Win32 error when not started
    std::string output;      // what the tool writes to its standard output
    uint32_t exitCode = 0;
    bool exitCodeReadable = true;
    uint32_t runMs = 0;
    std::vector<std::pair<size_t, DeviceState>> changes;
};

// devcon's exit codes.
constexpr uint32_t kDevconOk = 0;
constexpr uint32_t kDevconRestart = 1;
constexpr uint32_t kDevconFail = 2;
constexpr uint32_t kDevconUsage = 3;

// What the listing depends on: where the INF and driver files lie, and the Windows version, which picks the
// driver Windows uses in place of a vendor driver.
struct ToolMachine {
    std::string windowsFolder = "C:\\Windows";
    uint32_t windowsMajor = 10, windowsMinor = 0;
};

// Runs the tool with its argument vector (args[0] is the program as started).
ToolRun RunDriverTool(const DisplayDriverSettings& settings, const std::vector<DisplayDevice>& devices,
                      const ToolMachine& machine, const std::vector<std::string>& args);
void ApplyToolRun(const ToolRun& run, std::vector<DisplayDevice>& devices);

// At a restart: pending disables become disabled, pending enables enabled. Returns how many changed.
int ApplyPendingDeviceChanges(std::vector<DisplayDevice>& devices);

// The node states live in "DIR/devices.ini", one section per PCI location ("[device 03:00.0]",
// "state = disable-pending"); a node without an entry is enabled. Load fills the states of `devices` (built
// from the machine's PCI functions); Save writes every node that is not enabled.
bool LoadDeviceStates(const std::string& dir, std::vector<DisplayDevice>& devices);
bool SaveDeviceStates(const std::string& dir, const std::vector<DisplayDevice>& devices);

} // namespace sim
