// Updates across restarts under Wine: the driver tool and the desktop manager's programs are the stand-ins,
// the registry, RunOnce and the processes are the prefix's own, and a restart is the machine's hardware
// coming up (`q740sim boot` on a machine folder whose registry the program never uses) followed by
// `wineboot --restart`, which starts the resumed run itself. Each run's whole console text, its exit code,
// the program's registry values in the 32-bit view and the display devices are compared between the runs.
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
using bench::kProgramming;
using bench::kUpdated;
using testsupport::WithCrLf;

const char kImage[] = "VskQ740FwUpdater.exe";
const char kProgramKey[] = "HKLM\\SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
const char kRunOnceKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kLumoFolder[] = "/Program Files (x86)/Veskora Graphics/Lumoview/";
const char kStore[] = "/ProgramData/Veskora Graphics/Lumoview/settings.dat";
const char kSettings[] = "[Lumoview]\r\nLayout=Span 2x1\r\nProfile=100% Studio\r\n";
// What `reg query` prints of a key that holds no values.
const char kNoValues[] = "\r\n";

// The hardware as Devices() tells it: both cards running `firmware`, both display devices in `state`.
std::string Cards(const std::string& firmware, const std::string& state = "enabled") {
    return "firmware " + firmware + " " + firmware + "; Display devices: 03:00.0 " + state + ", 04:00.0 " +
           state + "\n";
}

class WineRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        WINE_SKIP_UNLESS_AVAILABLE();
        if (winetest::SimulatorPath().empty()) {
            WINE_MISSING("VSK_Q740SIM does not name the native q740sim");
        }
        machine_ = prefix_.WorkDir() + "/machine";
        ASSERT_EQ(Sim({"create"}).exitCode, 0);
        description_ = testsupport::ReadFileText(machine_ + "/machine.ini");
        Describe("");
        // The prefix, with the desktop manager installed where the program looks for it and its settings.
        // Windows 10: on 6.0 and 6.1 (the new prefix's version) the program always takes the XSVF stream.
        ASSERT_TRUE(prefix_.SetWindowsVersion("win10"));
        const fs::path built = fs::path(winetest::ProgramPath()).parent_path() / "sim" / "win";
        fs::create_directories(prefix_.DriveC() + kLumoFolder);
        for (const char* name :
             {"Veskora.LumoCmd.exe", "Veskora.Lumo.Core.exe", "Veskora.Lumo.Startup.exe"}) {
            fs::copy_file(built / name, prefix_.DriveC() + kLumoFolder + name);
        }
        fs::create_directories(fs::path(prefix_.DriveC() + kStore).parent_path());
        testsupport::WriteFileText(prefix_.DriveC() + kStore, kSettings);
    }

    // The machine's description with these sections after it; the desktop manager's tools take no time.
    void Describe(const std::string& sections) {
        testsupport::WriteFileText(machine_ + "/machine.ini", description_ +
                                                                  "\n[desktop-manager]\nexport-ms = 0\n"
                                                                  "import-ms = 0\n" +
                                                                  sections);
    }
    testsupport::RunResult Sim(const std::vector<std::string>& args) {
        return winetest::Simulate(machine_, args);
    }
    winetest::Env Machine() const { return {{"VSK_SIM_MACHINE", winetest::WindowsPath(machine_)}}; }
    testsupport::RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
        return prefix_.Run(args, input, Machine());
    }
    // A restart whose RunOnce entry starts one run of the program, which reads `input`.
    winetest::RestartResult Restart(const std::string& input = "") {
        EXPECT_EQ(Sim({"boot"}).exitCode, 0);
        return prefix_.Restart(kImage, 1, input, Machine());
    }

    // What `reg query` prints of a key in the 32-bit view, where the program keeps its values (Wow6432Node
    // on 64-bit Windows); the 64-bit view never holds them.
    std::string Registry(const std::string& key) {
        const testsupport::RunResult wide = prefix_.RunTool({"reg", "query", key, "/reg:64"});
        EXPECT_EQ(wide.out.find("    REG_"), std::string::npos) << wide.out;
        return prefix_.RunTool({"reg", "query", key, "/reg:32"}).out;
    }
    // What `q740sim show` says of the hardware: the cards' firmware and the display devices' states.
    std::string Devices() {
        const std::string shown = Sim({"show"}).out;
        const size_t at = shown.find("Display devices:");
        return at == std::string::npos ? shown
                                       : "firmware" + winetest::ShownFirmware(shown) + "; " +
                                             shown.substr(at, shown.find('\n', at) + 1 - at);
    }
    std::string Store() const { return testsupport::ReadFileText(prefix_.DriveC() + kStore); }
    // The settings file the export writes and the import reads, in the user's temporary folder.
    std::string SettingsFile() const { return testsupport::ReadFileText(UserFolder() + "/Temp/lvcfg.txt"); }
    std::string UserFolder() const {
        return fs::path(prefix_.LocalAppData()).parent_path().parent_path().string();
    }

    // The registry texts as `reg query` prints them.
    std::string RunOnce(const std::string& options) const {
        return "\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\r\n"
               "    VskQ740FwUpdater    REG_SZ    \"" +
               Path(winetest::ProgramPath()) + "\" " + options + "\r\n\r\n";
    }
    static std::string ProgramKey(const std::string& values) {
        return "\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater\r\n" + values + "\r\n";
    }
    static std::string LogValue(const std::string& saved) { return "    Log    REG_SZ    " + saved + "\r\n"; }
    std::string RestoreValue() const {
        return "    Restore    REG_SZ    \"C:\\Program Files (x86)\\Veskora Graphics\\Lumoview\\"
               "Veskora.LumoCmd.exe\" /import \"C:\\users\\" +
               fs::path(UserFolder()).filename().string() + "\\Temp\\lvcfg.txt\"\r\n";
    }
    // reg prints the settings' bytes read as UTF-16: each unit a character its output cannot show.
    static std::string ConfigValue() {
        return "    Config    REG_SZ    " + std::string((sizeof kSettings - 1) / 2, '?') + "\r\n";
    }
    std::string Path(const std::string& host) const { return winetest::WindowsPath(host); }

    winetest::WinePrefix prefix_;
    std::string machine_;
    std::string description_;
};

TEST_F(WineRestartTest, DriverDisabledAtOnceEndsWithTheFinalPassAfterOneRestart) {
    const std::string stream = Path(bench::kStream);
    const std::string question = bench::UpToTheQuestion(2, stream);
    const testsupport::RunResult update = Run({"-f", stream, "-q"});
    EXPECT_TRANSCRIPT(WithCrLf(question + kProgramming + kUpdated), update.out);
    EXPECT_EQ(update.exitCode, 0);
    EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-f " + stream + " -q"));
    EXPECT_TRANSCRIPT(ProgramKey(LogValue(bench::SavedTranscript(question)) + RestoreValue()),
                      Registry(kProgramKey));
    EXPECT_EQ(Devices(), Cards("1.7.2"));
    testsupport::WriteFileText(prefix_.DriveC() + kStore, "changed");

    const winetest::RestartResult final = Restart();
    EXPECT_TRANSCRIPT(WithCrLf(bench::FinalPass(question, true)), final.boot.out);
    EXPECT_EQ(final.exitCodes, std::vector<int>{0});
    EXPECT_EQ(Registry(kRunOnceKey), kNoValues);
    EXPECT_EQ(Registry(kProgramKey), kNoValues);
    EXPECT_EQ(Devices(), Cards("1.7.2"));
    EXPECT_EQ(Store(), kSettings); // imported back
}

TEST_F(WineRestartTest, DriverThatGoesOnlyAfterARestartTakesThreeRunsAndTwoRestarts) {
    const std::string stream = Path(bench::kStream);
    const std::string question = bench::UpToTheQuestion(2, stream);
    Describe("[display-driver]\ndisable-needs-restart = 1\n");
    const testsupport::RunResult first = Run({"-f", stream}, "y");
    EXPECT_TRANSCRIPT(
        WithCrLf(testsupport::kBanner + bench::Listing(2) + bench::kRestartNow + bench::Asked()), first.out);
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-f " + stream));
    EXPECT_TRANSCRIPT(ProgramKey(ConfigValue()), Registry(kProgramKey));
    EXPECT_EQ(Devices(), Cards("1.6.10", "disable-pending"));
    testsupport::WriteFileText(prefix_.DriveC() + kStore, "changed");

    // The resumed run writes the settings file from "Config" (no export: the store has changed since),
    // updates, puts the driver back and restarts.
    const winetest::RestartResult resumed = Restart("y");
    EXPECT_TRANSCRIPT(WithCrLf(question + bench::Asked() + kProgramming + kUpdated), resumed.boot.out);
    EXPECT_EQ(resumed.exitCodes, std::vector<int>{0});
    EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-f " + stream));
    EXPECT_TRANSCRIPT(ProgramKey(ConfigValue() + LogValue(bench::SavedTranscript(question)) + RestoreValue()),
                      Registry(kProgramKey));
    EXPECT_EQ(Devices(), Cards("1.7.2"));
    EXPECT_EQ(SettingsFile(), kSettings);

    const winetest::RestartResult final = Restart("x");
    EXPECT_TRANSCRIPT(WithCrLf(bench::FinalPass(question, false)), final.boot.out);
    EXPECT_EQ(final.exitCodes, std::vector<int>{0});
    EXPECT_EQ(Store(), kSettings);
    // "Config" lingers until a later run ends without a restart.
    EXPECT_EQ(Registry(kRunOnceKey), kNoValues);
    EXPECT_TRANSCRIPT(ProgramKey(ConfigValue()), Registry(kProgramKey));

    // The next fresh run writes "Config" back instead of exporting anew, and ends it. Its driver goes at
    // once; n at the update question ends the run without a restart. The cards run the image's version
    // now, so -x keeps the run on the stream.
    Describe("");
    testsupport::WriteFileText(prefix_.DriveC() + kStore, "changed again");
    const testsupport::RunResult fresh = Run({"-f", stream, "-x"}, "n");
    EXPECT_TRANSCRIPT(WithCrLf(bench::Replaced(bench::UpToTheQuestion(2, stream, true), "1.6.10", "1.7.2") +
                               bench::Asked() + "   Update aborted.\n\n" + testsupport::kPressAnyKey),
                      fresh.out);
    EXPECT_EQ(fresh.exitCode, 0);
    EXPECT_EQ(SettingsFile(), kSettings);
    EXPECT_EQ(Registry(kRunOnceKey), kNoValues);
    EXPECT_EQ(Registry(kProgramKey), kNoValues);
    EXPECT_EQ(Devices(), Cards("1.7.2"));
}

// The flash image through the display library: the driver stays, the workers write every card through
// its adapter, and the run registers "Validate" and the adapter indexes for the final pass, which checks
// every card through the library after the restart. The library's stand-in in system32 models the cards
// on its own and shares their flashes with the hardware through the machine's files.
TEST_F(WineRestartTest, FlashImageThroughTheLibraryIsCheckedByTheFinalPass) {
    ASSERT_EQ(Sim({"create", "--force", "--adl-records", "2", "--card", "0:fpga-version=1.6.13", "--card",
                   "1:fpga-version=2.0.0"})
                  .exitCode,
              0);
    description_ = testsupport::ReadFileText(machine_ + "/machine.ini");
    Describe("");
    fs::copy_file(winetest::StandInPath("atiadlxx.dll"), prefix_.DriveC() + "/windows/system32/atiadlxx.dll");
    const std::string stream = Path(bench::kStream);
    const std::string question = testsupport::kBanner +
                                 testsupport::CardListing({{"0300", "1.6.13"}, {"0400", "2.0.0"}}) +
                                 testsupport::Announcement(stream, "16") + testsupport::WarningBox(false);
    const testsupport::RunResult update = Run({"-f", stream, "-q"});
    // The flash path ends without the stream's end-of-update beep.
    EXPECT_TRANSCRIPT(
        WithCrLf(question + kProgramming + "{progress}\b \n\nExecution time = {digits} seconds\n"),
        update.out);
    EXPECT_EQ(update.exitCode, 0);
    EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-f " + stream + " -q"));
    // The adapter indexes stay until the next such update writes them again.
    const std::string adapters = "    ADLINDEX0    REG_DWORD    0x0\r\n    ADLINDEX1    REG_DWORD    0x2\r\n";
    EXPECT_TRANSCRIPT(ProgramKey(adapters + LogValue(bench::SavedTranscript(question)) + RestoreValue() +
                                 "    Validate    REG_DWORD    0x2\r\n"),
                      Registry(kProgramKey));
    EXPECT_EQ(Devices(), "firmware 1.6.13 2.0.0; Display devices: 03:00.0 enabled, 04:00.0 enabled\n");

    const winetest::RestartResult final = Restart();
    EXPECT_TRANSCRIPT(WithCrLf(bench::FinalPass(question, true)), final.boot.out);
    EXPECT_EQ(final.exitCodes, std::vector<int>{0});
    EXPECT_EQ(Registry(kRunOnceKey), kNoValues);
    EXPECT_TRANSCRIPT(ProgramKey(adapters), Registry(kProgramKey));
    EXPECT_EQ(Devices(), Cards("1.7.2"));
}

// -tc 3 -tf other.xsvf: an odd count takes the -tf file; each run registers the next with the count one
// lower, and the relative files as absolute paths, and restarts.
TEST_F(WineRestartTest, RepeatedUpdateTestCountsDownAcrossRestarts) {
    const std::string stream = testsupport::ReadFileText(bench::kStream);
    const std::string digest = testsupport::ReadFileText(bench::kStream + ".md5");
    for (const char* name : {"fw.xsvf", "other.xsvf"}) { // no flash image beside them
        testsupport::WriteFileText(prefix_.WorkDir() + "/" + name, stream);
        testsupport::WriteFileText(prefix_.WorkDir() + "/" + name + ".md5", digest);
    }
    const std::string fw = Path(prefix_.WorkDir() + "/fw.xsvf");
    const std::string other = Path(prefix_.WorkDir() + "/other.xsvf");
    const std::string ordinary = bench::UpToTheQuestion(2, fw, true); // the count-0 run's
    const std::string files = " -tf \"" + other + "\" -f \"" + fw + "\"";
    const testsupport::RunResult first = Run({"-tc", "3", "-tf", "other.xsvf", "-f", "fw.xsvf"});
    EXPECT_TRANSCRIPT(WithCrLf(bench::TestRunUpTo(3, "other.xsvf") + kProgramming + kUpdated), first.out);
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-tc 2" + files));

    // The cards run the new version from here on.
    const auto now = [](const std::string& text) { return bench::Replaced(text, "1.6.10", "1.7.2"); };
    const struct {
        int count;
        std::string file;
    } steps[] = {{2, fw}, {1, other}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.count);
        const winetest::RestartResult run = Restart();
        EXPECT_TRANSCRIPT(WithCrLf(now(bench::TestRunUpTo(step.count, step.file)) + kProgramming + kUpdated),
                          run.boot.out);
        EXPECT_EQ(run.exitCodes, std::vector<int>{0});
        EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-tc " + std::to_string(step.count - 1) + files));
    }
    // At 0 the last run is an ordinary quiet update, which restarts for its final pass.
    const winetest::RestartResult last = Restart();
    EXPECT_TRANSCRIPT(WithCrLf(now(ordinary) + kProgramming + kUpdated), last.boot.out);
    EXPECT_EQ(last.exitCodes, std::vector<int>{0});
    EXPECT_EQ(Registry(kRunOnceKey), RunOnce("-tc 0" + files));
    EXPECT_TRANSCRIPT(ProgramKey(LogValue(now(bench::SavedTranscript(ordinary))) + RestoreValue()),
                      Registry(kProgramKey));
    const winetest::RestartResult final = Restart();
    EXPECT_TRANSCRIPT(WithCrLf(now(bench::FinalPass(ordinary, true))), final.boot.out);
    EXPECT_EQ(final.exitCodes, std::vector<int>{0});
    EXPECT_EQ(Registry(kRunOnceKey), kNoValues);
    EXPECT_EQ(Registry(kProgramKey), kNoValues);
    EXPECT_EQ(Devices(), Cards("1.7.2"));
}

} // namespace
