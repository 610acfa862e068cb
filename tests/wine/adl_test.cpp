// The display library under Wine: the stand-in atiadlxx.dll / atiadlxy.dll in the prefix's system32, where
// a 64-bit process finds the 64-bit library under either name (a 32-bit one would be sent to SysWOW64 and
// find only atiadlxy). Whole transcripts, logs and exit codes of runs over machines made by the native
// q740sim: the versions read through the library (also when its first calls fail), or through the cards'
// own engines when it cannot bind; a card below 1.6.13 turning the run to the XSVF stream; and no library
// in system32, copies of it beside the program: those are never loaded, so the flash image is checked on
// the cards' own engines; and the flash image written on those engines on a machine without the driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Goldens.h"
#include "RunGoldens.h"
#include "Transcript.h"
#include "WineHarness.h"

namespace {

namespace fs = std::filesystem;
using testsupport::kBanner;

const char* const kLibraries[] = {"atiadlxx.dll", "atiadlxy.dll"};

TEST(WineAdlTest, VersionsVersionGateAndACopyBesideTheProgram) {
    WINE_SKIP_UNLESS_AVAILABLE();
    if (winetest::SimulatorPath().empty())
        WINE_MISSING("VSK_Q740SIM does not name the native q740sim");
    for (const char* name : kLibraries)
        ASSERT_TRUE(fs::is_regular_file(winetest::StandInPath(name))) << name;

    winetest::WinePrefix prefix;
    ASSERT_EQ(prefix.Run({"-h"}).exitCode, 0);      // makes the prefix
    ASSERT_TRUE(prefix.SetWindowsVersion("win10")); // 6.0 and 6.1 never take the flash image
    const std::string stream = winetest::WindowsPath(std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf");
    // A copy of the program in a folder of its own, with both libraries beside it.
    const std::string planted = prefix.WorkDir() + "/planted";
    fs::create_directories(planted);
    fs::copy_file(winetest::ProgramPath(), planted + "/VskQ740FwUpdater.exe");
    for (const char* name : kLibraries)
        fs::copy_file(winetest::StandInPath(name), planted + "/" + name);

    const std::vector<std::string> newCards = {"--card", "0:fpga-version=1.6.13", "--card",
                                               "1:fpga-version=2.0.0"};
    const std::string listed = testsupport::CardListing({{"0300", "1.6.13"}, {"0400", "2.0.0"}});
    const std::string aborted = testsupport::AbortedAtTheQuestion();
    // The library would carry the image: n at the question.
    const std::string throughLibrary =
        kBanner + listed + testsupport::Announcement(stream, "16") + testsupport::WarningBox(false) + aborted;
    const std::string calibrated = testsupport::CardListing({{"0300", "1.6.13"}, {"0400", "1.6.10"}}, true);
    const std::vector<std::string> quietNoRestart = {"-f", stream, "-q", "-n"};

    struct Case {
        const char* name;
        std::vector<std::string> create;
        std::vector<const char*> installed; // in system32
        bool fromPlanted;                   // the program runs from the folder with the copies
        std::vector<std::string> args;
        std::string input;
        std::string golden;
        int exitCode;
    };
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    // A run that may not restart, with one library in system32: quiet unless it reaches the question.
    auto quiet = [&](const char* name, const std::vector<std::string>& create, const char* library,
                     const std::string& golden, int exitCode) {
        if (golden == throughLibrary)
            return Case{name, create, {library}, false, {"-f", stream, "-n"}, "n", golden, exitCode};
        return Case{name, create, {library}, false, quietNoRestart, "", golden, exitCode};
    };
    const std::string engines = kBanner + listed + testsupport::kDriverNeedsRestart;
    const Case cases[] = {
        quiet(
            "atiadlxx: the versions through the library, which would carry the image (2 x 8 x 800 / 800); n",
            newCards, "atiadlxx.dll", throughLibrary, 0),
        quiet("atiadlxy alone, lacking an optional name: the second name binds",
              with(newCards, {"--adl-missing", "ADL2_Display_Sharpness_Get"}), "atiadlxy.dll", throughLibrary,
              0),
        quiet("the library's first 50 calls fail: the settling rounds take them",
              with(newCards, {"--adl-fails", "50"}), "atiadlxx.dll", throughLibrary, 0),
        quiet("a required name left out: the versions through the cards' own engines, the driver must go",
              with(newCards, {"--adl-missing", "ADL2_Display_DDCInfo2_Get"}), "atiadlxx.dll", engines, 3),
        quiet("a card below 1.6.13 read through the library: the XSVF stream, the lines calibrated",
              {"--card", "0:fpga-version=1.6.13"}, "atiadlxx.dll",
              kBanner + calibrated + testsupport::kDriverNeedsRestart, 3),
        {"none in system32, copies beside the program: the image checked on the engines, 2400 / 600",
         with(newCards, {"--card", "1:i2c-misread-khz=700"}),
         {},
         true,
         {"-f", stream},
         "n",
         kBanner + listed + testsupport::Announcement(stream, "4") + testsupport::WarningBox(false) + aborted,
         0},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string machine = prefix.WorkDir() + "/machine" + std::to_string(index++);
        std::vector<std::string> create = {"create"};
        create.insert(create.end(), c.create.begin(), c.create.end());
        ASSERT_EQ(winetest::Simulate(machine, create).exitCode, 0);
        if (c.exitCode == 3) { // the driver goes only after a restart, which -n refuses
            const std::string ini = machine + "/machine.ini";
            testsupport::WriteFileText(ini, testsupport::ReadFileText(ini) +
                                                "\n[display-driver]\ndisable-needs-restart = 1\n");
        }
        for (const char* name : kLibraries) {
            const std::string path = prefix.DriveC() + "/windows/system32/" + name;
            fs::remove(path);
            for (const char* wanted : c.installed)
                if (std::string(wanted) == name)
                    fs::copy_file(winetest::StandInPath(name), path);
        }
        prefix.UseProgram(c.fromPlanted ? planted + "/VskQ740FwUpdater.exe" : winetest::ProgramPath());
        const size_t logged = testsupport::ReadFileText(prefix.LogPath()).size();

        const testsupport::RunResult run =
            prefix.Run(c.args, c.input, {{"VSK_SIM_MACHINE", winetest::WindowsPath(machine)}});
        ASSERT_FALSE(run.timedOut);
        EXPECT_TRANSCRIPT(testsupport::WithCrLf(c.golden), run.out) << run.err;
        EXPECT_EQ(run.exitCode, c.exitCode & 0xFF);
        const std::string log = testsupport::ReadFileText(prefix.LogPath()).substr(logged);
        bench::ExpectLog(log, testsupport::LogForm(testsupport::Logged(c.golden)));
    }
}

// The flash image on the cards' own engines, no display driver installed: the workers write every card's
// flash, every card is checked at once, and the FPGAs run the image after the next power-up.
TEST(WineAdlTest, FlashImageOnTheCardsOwnEnginesWithoutTheDriver) {
    WINE_SKIP_UNLESS_AVAILABLE();
    if (winetest::SimulatorPath().empty())
        WINE_MISSING("VSK_Q740SIM does not name the native q740sim");
    winetest::WinePrefix prefix;
    ASSERT_EQ(prefix.Run({"-h"}).exitCode, 0);
    ASSERT_TRUE(prefix.SetWindowsVersion("win10"));
    const std::string machine = prefix.WorkDir() + "/machine";
    ASSERT_EQ(winetest::Simulate(machine, {"create", "--no-driver", "--card", "0:fpga-version=1.6.13",
                                           "--card", "1:fpga-version=1.6.13"})
                  .exitCode,
              0);
    const std::string stream = winetest::WindowsPath(std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf");
    const std::string upToProgress =
        kBanner + testsupport::CardListing({{"0300", "1.6.13"}, {"0400", "1.6.13"}}) +
        testsupport::Announcement(stream, "3") + testsupport::WarningBox(false) + bench::kProgramming;
    const std::string done = "\b \n\nExecution time = {digits} seconds\n";
    const testsupport::RunResult run =
        prefix.Run({"-f", stream, "-q"}, "", {{"VSK_SIM_MACHINE", winetest::WindowsPath(machine)}});
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRANSCRIPT(testsupport::WithCrLf(upToProgress + "{progress}" + done), run.out) << run.err;
    EXPECT_EQ(run.exitCode, 0);
    bench::ExpectLog(testsupport::ReadFileText(prefix.LogPath()),
                     testsupport::LogForm(testsupport::Logged(upToProgress)) + "{log-progress}" +
                         testsupport::LogForm(done));
    // Nothing waits for a restart: no program key, no RunOnce entry.
    const char programKey[] = "HKLM\\SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
    const char runOnceKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    EXPECT_EQ(prefix.RunTool({"reg", "query", programKey, "/reg:32"}).out,
              "reg: Unable to find the specified registry key\r\n");
    EXPECT_EQ(prefix.RunTool({"reg", "query", runOnceKey, "/reg:32"}).out.find("VskQ740FwUpdater"),
              std::string::npos);
    ASSERT_EQ(winetest::Simulate(machine, {"boot"}).exitCode, 0);
    EXPECT_EQ(winetest::ShownFirmware(winetest::Simulate(machine, {"show"}).out), " 1.7.2 1.7.2");
}

} // namespace
