#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/DisplayDriver.h"
#include "sim/ProgramStart.h"

namespace {

using sim::DeviceState;

const char kDeviceId[] = "PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2";
const char kTool[] = "C:\\Users\\user\\AppData\\Local\\Temp\\\\deq740.exe";

sim::DisplayDevice Device(uint32_t bus, uint32_t function, uint32_t vendor, uint32_t device,
                          uint32_t classCode) {
    sim::DisplayDevice d;
    d.bus = bus;
    d.function = function;
    d.vendorId = vendor;
    d.deviceId = device;
    d.subsystem = 0x4D17E6A2;
    d.classCode = classCode;
    return d;
}

// Two Q740 cards, the audio function of the first (same subsystem, other device ID), an on-board adapter.
std::vector<sim::DisplayDevice> Machine() {
    std::vector<sim::DisplayDevice> devices = {
        Device(0, 0, 0x8086, 0x3E92, 0x030000), Device(3, 0, 0x1002, 0x6828, 0x030000),
        Device(3, 1, 0x1002, 0xAAB0, 0x040300), Device(4, 0, 0x1002, 0x6828, 0x030000)};
    devices[0].subsystem = 0x86941028;
    devices[0].device = 2;
    return devices;
}

sim::ToolRun RunVerb(const sim::DisplayDriverSettings& settings,
                     const std::vector<sim::DisplayDevice>& devices, const std::string& verb) {
    return sim::RunDriverTool(settings, devices, sim::ToolMachine(), {kTool, verb, kDeviceId});
}

bool HasMarker(const std::string& text) {
    return text.find("Windows\\INF\\oem") != std::string::npos || text.find("amd") != std::string::npos ||
           text.find("ati") != std::string::npos;
}

TEST(SimDriverTool, InstanceIdsAndHardwareIdsAreThoseOfThePciBus) {
    const auto devices = Machine();
    EXPECT_EQ(devices[1].InstanceId(), "PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2&REV_00\\4&C4FCF324&0&00");
    const std::vector<std::string> ids = devices[2].Ids();
    const std::vector<std::string> expected = {"PCI\\VEN_1002&DEV_AAB0&SUBSYS_4D17E6A2&REV_00",
                                               "PCI\\VEN_1002&DEV_AAB0&SUBSYS_4D17E6A2",
                                               "PCI\\VEN_1002&DEV_AAB0&CC_040300",
                                               "PCI\\VEN_1002&DEV_AAB0&CC_0403",
                                               "PCI\\VEN_1002&DEV_AAB0&REV_00",
                                               "PCI\\VEN_1002&DEV_AAB0",
                                               "PCI\\VEN_1002&CC_040300",
                                               "PCI\\VEN_1002&CC_0403",
                                               "PCI\\VEN_1002",
                                               "PCI\\CC_040300",
                                               "PCI\\CC_0403"};
    EXPECT_EQ(ids, expected);
}

TEST(SimDriverTool, DisableAndEnableWithTheirExitCodesAndStatesAcrossRestarts) {
    struct Case {
        const char* name;
        bool disableNeedsRestart, enableNeedsRestart;
        DeviceState before;
        const char* verb;
        uint32_t exitCode;
        const char* perDevice; // the text after each instance ID
        const char* tail;
        DeviceState after, afterRestart;
    } cases[] = {
        {"disable at once", false, false, DeviceState::Enabled, "disable", 0, ": Disabled\r\n",
         "2 device(s) disabled.\r\n", DeviceState::Disabled, DeviceState::Disabled},
        {"disable needs restart", true, false, DeviceState::Enabled, "disable", 1, ": Disabled on reboot\r\n",
         "Not all of 2 device(s) disabled, at least one requires reboot to complete the operation.\r\n",
         DeviceState::DisablePending, DeviceState::Disabled},
        {"disable again while pending", true, false, DeviceState::DisablePending, "DISABLE", 1,
         ": Disabled on reboot\r\n",
         "Not all of 2 device(s) disabled, at least one requires reboot to complete the operation.\r\n",
         DeviceState::DisablePending, DeviceState::Disabled},
        {"enable at once", false, false, DeviceState::Disabled, "enable", 0, ": Enabled\r\n",
         "2 device(s) are enabled.\r\n", DeviceState::Enabled, DeviceState::Enabled},
        {"enable needs restart", false, true, DeviceState::Disabled, "enable", 1, ": Enabled on reboot\r\n",
         "Not all of 2 device(s) are enabled, at least one requires reboot to complete the operation.\r\n",
         DeviceState::EnablePending, DeviceState::Enabled},
        {"enable cancels a pending disable", true, true, DeviceState::DisablePending, "enable", 0,
         ": Enabled\r\n", "2 device(s) are enabled.\r\n", DeviceState::Enabled, DeviceState::Enabled},
        {"disable cancels a pending enable", true, true, DeviceState::EnablePending, "disable", 0,
         ": Disabled\r\n", "2 device(s) disabled.\r\n", DeviceState::Disabled, DeviceState::Disabled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DisplayDriverSettings settings;
        settings.disableNeedsRestart = c.disableNeedsRestart;
        settings.enableNeedsRestart = c.enableNeedsRestart;
        auto devices = Machine();
        devices[1].state = devices[3].state = c.before;
        const sim::ToolRun run = RunVerb(settings, devices, c.verb);
        EXPECT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.output,
                  devices[1].InstanceId() + c.perDevice + devices[3].InstanceId() + c.perDevice + c.tail);
        sim::ApplyToolRun(run, devices);
        EXPECT_EQ(devices[1].state, c.after);
        EXPECT_EQ(devices[3].state, c.after);
        EXPECT_EQ(devices[0].state, DeviceState::Enabled); // the other adapter and the audio function stay
        EXPECT_EQ(devices[2].state, DeviceState::Enabled);
        sim::ApplyPendingDeviceChanges(devices);
        EXPECT_EQ(devices[1].state, c.afterRestart);
    }
}

TEST(SimDriverTool, ListingCarriesTheMarkersOnlyWithTheVendorDriver) {
    struct Case {
        const char* name;
        bool vendor;
        uint32_t major, minor, files;
        bool markers;
        const char* adapter;
        size_t minimumSize;
    } cases[] = {
        {"vendor driver", true, 10, 0, 40, true, "    Name: Veskora Q740\r\n", 0},
        {"vendor driver, no files", true, 10, 0, 0, true, "    Name: Veskora Q740\r\n", 0},
        {"basic display driver", false, 10, 0, 40, false, "    Name: Microsoft Basic Display Adapter\r\n", 0},
        {"Windows 8", false, 6, 2, 40, false, "    Name: Microsoft Basic Display Adapter\r\n", 0},
        {"Windows 7", false, 6, 1, 40, false, "    Name: Standard VGA Graphics Adapter\r\n", 0},
        {"longer than a pipe holds", true, 10, 0, 1000, true, "    Name: Veskora Q740\r\n", 65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DisplayDriverSettings settings;
        settings.vendorDriver = c.vendor;
        settings.driverFiles = c.files;
        sim::ToolMachine machine;
        machine.windowsMajor = c.major;
        machine.windowsMinor = c.minor;
        const auto devices = Machine();
        const sim::ToolRun run =
            sim::RunDriverTool(settings, devices, machine, {kTool, "driverfiles", kDeviceId});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(HasMarker(run.output), c.markers);
        EXPECT_EQ(run.output.compare(0, devices[1].InstanceId().size() + 2, devices[1].InstanceId() + "\r\n"),
                  0);
        EXPECT_NE(run.output.find(c.adapter), std::string::npos);
        EXPECT_GE(run.output.size(), c.minimumSize);
        const std::string tail = "\r\n2 matching device(s) found.\r\n";
        EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
        EXPECT_TRUE(run.changes.empty());
    }
    // The vendor listing as devcon prints it.
    sim::DisplayDriverSettings two;
    two.driverFiles = 2;
    const auto devices = Machine();
    const std::string one =
        "    Name: Veskora Q740\r\n"
        "    Driver installed from C:\\Windows\\INF\\oem17.inf [ati2mtag_Q740]. 2 file(s) used by "
        "driver:\r\n"
        "        C:\\Windows\\system32\\DRIVERS\\atikmdag.sys\r\n"
        "        C:\\Windows\\system32\\DRIVERS\\atikmpag.sys\r\n";
    EXPECT_EQ(RunVerb(two, devices, "driverfiles").output, devices[1].InstanceId() + "\r\n" + one +
                                                               devices[3].InstanceId() + "\r\n" + one +
                                                               "2 matching device(s) found.\r\n");
}

TEST(SimDriverTool, ArgumentsTheToolDoesNotTake) {
    const auto devices = Machine();
    const sim::DisplayDriverSettings settings;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        uint32_t exitCode;
        const char* output;
    } cases[] = {
        {"no matching device", {kTool, "disable", "PCI\\VEN_10DE&DEV_1234"}, 0, "No devices disabled.\r\n"},
        {"nothing to list", {kTool, "driverfiles", "PCI\\VEN_10DE"}, 0, "No matching devices found.\r\n"},
        {"no id",
         {kTool, "enable"},
         3,
         "deq740.exe: Invalid use of enable.\r\nFor more information, type: "
         "deq740.exe help enable\r\n"},
        {"unknown verb",
         {kTool, "remove", kDeviceId},
         3,
         "deq740.exe: Invalid use of remove.\r\nFor more "
         "information, type: deq740.exe help remove\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::ToolRun run = sim::RunDriverTool(settings, devices, sim::ToolMachine(), c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.output, c.output);
        EXPECT_TRUE(run.changes.empty());
    }
    // Wildcards and instance IDs name nodes too.
    EXPECT_EQ(sim::RunDriverTool(settings, devices, sim::ToolMachine(), {kTool, "disable", "pci\\ven_1002*"})
                  .changes.size(),
              3u);
    EXPECT_EQ(sim::RunDriverTool(settings, devices, sim::ToolMachine(),
                                 {kTool, "disable", "@" + devices[3].InstanceId()})
                  .changes.size(),
              1u);
}

// The tool path of an unquoted command line with a blank in it: Windows still starts the tool (it tries
// each blank), but the tool's own argument vector splits the path, so its verb is the path's second part.
TEST(SimDriverTool, AnUnquotedToolPathWithABlankReachesTheToolAsTwoArguments) {
    const std::string line = "C:\\Users\\John Smith\\AppData\\Local\\Temp\\\\deq740.exe disable "
                             "\"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2\"";
    const auto devices = Machine();
    const sim::ToolRun run = sim::RunDriverTool(sim::DisplayDriverSettings(), devices, sim::ToolMachine(),
                                                sim::SplitArguments(line));
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_TRUE(run.changes.empty());
}

TEST(SimDriverTool, FaultsOfTheToolItself) {
    const auto devices = Machine();
    sim::DisplayDriverSettings settings;
    settings.toolStarts = false;
    sim::ToolRun run = RunVerb(settings, devices, "disable");
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.startError, sim::kErrorAccessDenied);
    EXPECT_TRUE(run.changes.empty());

    settings = sim::DisplayDriverSettings();
    settings.exitCodeReadable = false;
    settings.toolMs = 2500;
    run = RunVerb(settings, devices, "disable");
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.exitCodeReadable);
    EXPECT_EQ(run.runMs, 2500u);
    EXPECT_EQ(run.changes.size(), 2u); // the tool did its work; only its exit code is lost
}

TEST(SimDriverTool, StatesPersistInTheMachineFolder) {
    char pattern[] = "/tmp/sim-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    auto devices = Machine();
    ASSERT_TRUE(sim::LoadDeviceStates(dir, devices)); // none saved yet: all enabled
    devices[1].state = DeviceState::DisablePending;
    devices[3].state = DeviceState::EnablePending;
    ASSERT_TRUE(sim::SaveDeviceStates(dir, devices));
    auto again = Machine();
    ASSERT_TRUE(sim::LoadDeviceStates(dir, again));
    EXPECT_EQ(again[1].state, DeviceState::DisablePending);
    EXPECT_EQ(again[3].state, DeviceState::EnablePending);
    EXPECT_EQ(again[0].state, DeviceState::Enabled);
    EXPECT_EQ(sim::ApplyPendingDeviceChanges(again), 2);
    EXPECT_EQ(again[1].state, DeviceState::Disabled);
    EXPECT_EQ(again[3].state, DeviceState::Enabled);
    std::filesystem::remove_all(dir);
}

} // namespace
