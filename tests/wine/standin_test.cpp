// The stand-ins of the driver tool and the desktop manager's command-line tool under Wine, over a machine
// made by the native q740sim: a listing longer than a pipe holds arrives whole, a disable that needs a
// restart leaves the cards pending, and the settings file makes the round trip byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "WineHarness.h"

namespace {

const char kDeviceId[] = "PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2";

class WineStandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = winetest::SkipReason();
        if (!reason.empty()) {
            WINE_MISSING(reason);
        }
        if (winetest::SimulatorPath().empty()) {
            WINE_MISSING("VSK_Q740SIM does not name the native q740sim");
        }
        machine_ = prefix_.WorkDir() + "/machine";
        ASSERT_EQ(testsupport::RunProgram({winetest::SimulatorPath(), "create", "--dir", machine_}).exitCode,
                  0);
    }
    void Describe(const std::string& sections) {
        const std::string path = machine_ + "/machine.ini";
        testsupport::WriteFileText(path, testsupport::ReadFileText(path) + "\n" + sections);
    }
    testsupport::RunResult Run(const std::vector<std::string>& args) {
        return prefix_.RunTool(args, {{"VSK_SIM_MACHINE", winetest::WindowsPath(machine_)}});
    }

    winetest::WinePrefix prefix_;
    std::string machine_;
};

TEST_F(WineStandInTest, DriverToolListsPastWhatAPipeHoldsAndKeepsPendingStates) {
    Describe("[display-driver]\ndriver-files = 1500\ndisable-needs-restart = 1\n");
    const std::string tool = winetest::StandInPath("VskDevCon64.exe");
    const testsupport::RunResult listing = Run({tool, "driverfiles", kDeviceId});
    ASSERT_FALSE(listing.timedOut);
    EXPECT_EQ(listing.exitCode, 0) << listing.err;
    EXPECT_GT(listing.out.size(), 65536u);
    const std::string tail = ".dll\r\n2 matching device(s) found.\r\n";
    ASSERT_GE(listing.out.size(), tail.size());
    EXPECT_EQ(listing.out.substr(listing.out.size() - tail.size()), tail);
    EXPECT_NE(listing.out.find("\\system32\\DRIVERS\\atikmdag.sys\r\n"), std::string::npos);

    const testsupport::RunResult disable = Run({tool, "disable", kDeviceId});
    EXPECT_EQ(disable.exitCode, 1);
    EXPECT_NE(disable.out.find(": Disabled on reboot\r\n"), std::string::npos) << disable.out;
    EXPECT_EQ(testsupport::ReadFileText(machine_ + "/devices.ini"),
              "[device 03:00.0]\nstate = disable-pending\n\n[device 04:00.0]\nstate = disable-pending\n");
}

TEST_F(WineStandInTest, SettingsFileRoundTripKeepsEveryByte) {
    Describe("[desktop-manager]\nsettings = binary\nexport-ms = 0\nimport-ms = 0\n");
    const std::string tool = winetest::StandInPath("Veskora.LumoCmd.exe");
    const std::string store = prefix_.DriveC() + "/ProgramData/Veskora Graphics/Lumoview/settings.dat";
    const testsupport::RunResult exported = Run({tool, "/export", "C:\\users\\Public\\lv cfg.txt"});
    EXPECT_EQ(exported.exitCode, 0) << exported.out << exported.err;
    const std::string bytes = testsupport::ReadFileText(prefix_.DriveC() + "/users/Public/lv cfg.txt");
    EXPECT_EQ(bytes.compare(0, 12, "[Lumoview]\r\n"), 0);
    EXPECT_EQ(bytes.back(), '\0');
    EXPECT_EQ(bytes.find(std::string("Blob=\0\x01\xFF", 8)) == std::string::npos, false);

    testsupport::WriteFileText(store, "changed");
    EXPECT_EQ(Run({tool, "/import", "C:\\users\\Public\\lv cfg.txt"}).exitCode, 0);
    EXPECT_EQ(testsupport::ReadFileText(store), bytes);
    EXPECT_EQ(Run({tool, "/import", "C:\\users\\Public\\none.txt"}).exitCode, 2);
    EXPECT_EQ(testsupport::ReadFileText(store), bytes);
}

} // namespace
