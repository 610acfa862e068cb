// The hardware-access service under Wine: the first run in a fresh prefix installs the payloads where
// 64-bit Windows keeps them and writes the uninstall entry in the 32-bit registry view; the stand-in library
// then lists the cards of a machine made by the native q740sim. Later runs only load what is installed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "Goldens.h"
#include "WineHarness.h"

namespace {

namespace fs = std::filesystem;

// The whole console text of a quiet run: the two cards of the machine, or none without one.
const std::string kListing =
    testsupport::WithCrLf(std::string(testsupport::kBanner) + "   Found 2 Veskora Q740 graphics cards:\n"
                                                              " PCIe Bus: 0x0300   FPGA version: 1.6.10\n"
                                                              " PCIe Bus: 0x0400   FPGA version: 1.6.10\n\n");
const std::string kNoCards =
    testsupport::WithCrLf(std::string(testsupport::kBanner) + "   No Veskora Q740 graphics cards found.");
const char* const kUninstallKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VskVxdSC";

constexpr uint16_t kI386 = 0x14C;
constexpr uint16_t kAmd64 = 0x8664;

// The machine field of a PE image's file header; 0 when the file is not an image.
uint16_t ImageMachine(const std::string& path) {
    const std::string bytes = testsupport::ReadFileText(path);
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) {
        return 0;
    }
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
    const size_t pe = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
    if (pe + 6 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return 0;
    }
    return static_cast<uint16_t>(byte(pe + 4) | byte(pe + 5) << 8);
}

struct InstalledFile {
    const char* path; // under drive_c
    uint16_t machine; // expected image machine; 0 for the driver, which is checked by its text
    const char* text; // the driver stand-in's whole content
};

// What 64-bit Windows gets: the 64-bit driver and library in System32, the 32-bit library and the
// uninstaller in SysWOW64 (the uninstaller is this build's own stand-in).
const InstalledFile kInstalled[] = {
    {"windows/system32/drivers/VskVxdSC.sys", 0, "VskVxdSC stand-in kernel driver, x64\n"},
    {"windows/syswow64/VskVxdSC.dll", kI386, nullptr},
    {"windows/system32/VskVxdSC.dll", kAmd64, nullptr},
    {"windows/syswow64/VskVxdSCUninstall.exe", kAmd64, nullptr},
};

std::map<std::string, fs::file_time_type> WriteTimes(const winetest::WinePrefix& prefix) {
    std::map<std::string, fs::file_time_type> times;
    for (const InstalledFile& file : kInstalled) {
        std::error_code ec;
        times[file.path] = fs::last_write_time(prefix.DriveC() + "/" + file.path, ec);
    }
    return times;
}

TEST(WineServiceTest, InstallsOnceThenLoadsListsAndUninstalls) {
    WINE_SKIP_UNLESS_AVAILABLE();
    const std::string q740sim = winetest::SimulatorPath();
    if (q740sim.empty()) {
        WINE_MISSING("VSK_Q740SIM does not name the native q740sim");
    }
    winetest::WinePrefix prefix;
    const std::string machine = prefix.WorkDir() + "/machine";
    ASSERT_EQ(testsupport::RunProgram({q740sim, "create", "--dir", machine}).exitCode, 0);
    const winetest::Env withMachine{{"VSK_SIM_MACHINE", winetest::WindowsPath(machine)}};

    // First run: install, load, list.
    const testsupport::RunResult first = prefix.Run({"-q"}, "", withMachine);
    ASSERT_FALSE(first.timedOut);
    EXPECT_EQ(first.out, kListing) << first.err;
    for (const InstalledFile& file : kInstalled) {
        const std::string path = prefix.DriveC() + "/" + file.path;
        ASSERT_TRUE(fs::is_regular_file(path)) << file.path;
        if (file.text != nullptr) {
            EXPECT_EQ(testsupport::ReadFileText(path), file.text) << file.path;
        } else {
            EXPECT_EQ(ImageMachine(path), file.machine) << file.path;
        }
    }
    const testsupport::RunResult entry = prefix.RunTool({"reg", "query", kUninstallKey, "/reg:32"});
    EXPECT_EQ(entry.exitCode & 0xFF, 0) << entry.out << entry.err;
    EXPECT_NE(entry.out.find("DisplayName    REG_SZ    Veskora VskVxdSC Services"), std::string::npos)
        << entry.out;
    EXPECT_NE(entry.out.find("UninstallString    REG_SZ    C:\\windows\\SysWOW64\\VskVxdSCUninstall.exe"),
              std::string::npos)
        << entry.out;
    EXPECT_NE(prefix.RunTool({"reg", "query", kUninstallKey, "/reg:64"}).exitCode & 0xFF, 0)
        << "the entry belongs in the 32-bit view only";

    // Second run: the library loads as it is; no file is written again.
    const auto installedTimes = WriteTimes(prefix);
    const testsupport::RunResult second = prefix.Run({"-q"}, "", withMachine);
    EXPECT_EQ(second.out, kListing);
    EXPECT_EQ(WriteTimes(prefix), installedTimes);

    // Without a machine the service has no cards to report.
    const testsupport::RunResult bare = prefix.Run({"-q"});
    EXPECT_EQ(bare.out, kNoCards);

    // The uninstaller removes the libraries, the driver and the entry (itself, being in use, maybe later).
    const testsupport::RunResult uninstall = prefix.RunTool({"C:\\windows\\syswow64\\VskVxdSCUninstall.exe"});
    EXPECT_EQ(uninstall.exitCode & 0xFF, 0) << uninstall.out;
    for (const InstalledFile& file : kInstalled) {
        if (std::string(file.path).find("Uninstall") == std::string::npos) {
            EXPECT_FALSE(fs::exists(prefix.DriveC() + "/" + file.path)) << file.path;
        }
    }
    EXPECT_NE(prefix.RunTool({"reg", "query", kUninstallKey, "/reg:32"}).exitCode & 0xFF, 0);
}

} // namespace
