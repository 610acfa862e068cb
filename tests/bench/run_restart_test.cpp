// Updates across restarts: the display driver taken off the cards (at once or after a restart), the
// resumed run, the final pass, and what the registry, the driver, the power values and the desktop manager
// are left with between the runs. Each run's whole console text and the machine's whole Windows-side state
// (display devices, power, the resume state in the registry) are compared with golden texts.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "RunGoldens.h"
#include "Transcript.h"
#include "update/Md5.h"

namespace {

using bench::kProgramming;
using bench::kRestartNow;
using bench::kStream;
using bench::kUpdated;
using bench::Replaced;
using bench::TestRunUpTo;
using bench::UpToTheQuestion;
using testsupport::kBanner;
using testsupport::kPressAnyKey;

const char kBooted[] = "Restarted: 0 restart-time file operations carried out\n";
const std::string kAsked = bench::Asked();

// A final pass after q740sim boot's line.
std::string FinalPass(bool quiet) {
    return kBooted + bench::FinalPass(UpToTheQuestion(2, kStream), quiet);
}

// What `q740sim show` says of the Windows side: from the display devices to the resume state.
std::string State(BenchMachine& machine) {
    const std::string shown = machine.Sim({"show"}).out;
    const size_t from = shown.find("Display devices:");
    const size_t to = shown.find("Last run:");
    return from == std::string::npos || to == std::string::npos ? shown : shown.substr(from, to - from);
}

// The state lines: both display devices in `devices`, the user's power values (the updater changed them
// and put them back) with what the last run left of its execution state and restart request, then the
// resume state's lines.
std::string StateText(const std::string& devices, const std::string& lastRun, const std::string& resume) {
    return "Display devices: 03:00.0 " + devices + ", 04:00.0 " + devices +
           "\nPower: AC minimum processor state 5%, AC display time-out 600 s (in force: 5%, 600 s); " +
           lastRun + "\nResume state:" + resume + "\n";
}

const char kRestarted[] =
    "execution state 0x80000041; priority class 0x80; restart requested, hardware: upgrade "
    "(unplanned)";
const char kNotRestarted[] = "execution state 0x80000041; priority class 0x80; restart not requested";
// What a final pass leaves: it changes neither the execution state nor the priority.
const char kFinalPass[] = "execution state 0x00000000; priority class 0x20; restart not requested";

// A resume-state line of the registered command line.
std::string RunOnce(const std::string& options) {
    return "\n  SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce  VskQ740FwUpdater  REG_SZ "
           "\"\\\"C:\\\\Program Files\\\\Veskora\\\\VskQ740FwUpdater.exe\\\" " +
           options + "\"";
}

const char kProgramKey[] = "\n  SOFTWARE\\WOW6432Node\\Veskora Graphics\\VskQ740FwUpdater  ";

// "Log" as show prints it: its first 157 characters.
std::string LogLine() {
    const std::string text =
        "\\n===================\\n{digits}-{digits}-{digits} {digits}:{digits}:{digits}\\n"
        "===================\\nVeskora Q740 Firmware Update Utility - Version 2.0.3.1\\n"
        "\\n\\n   Found 2 Veskora Q740 ...";
    return kProgramKey + std::string("Log  REG_SZ \"") + text;
}

std::string RestoreLine() {
    return kProgramKey + std::string("Restore  REG_SZ \"\\\"C:\\\\Program Files (x86)\\\\Veskora Graphics\\\\"
                                     "Lumoview\\\\Veskora.LumoCmd.exe\\\" /import \\\"C:\\\\Users\\\\user\\\\"
                                     "AppData\\\\Local\\\\Temp\\\\lvcfg.txt\\\"\"");
}

std::string ConfigLine() {
    return kProgramKey + std::string("Config  REG_SZ bytes \"[Lumoview]\\r\\nVersion=4.2.1\\r\\nLayout=Span "
                                     "2x1\\r\\nHotkeys=Ctrl+Alt+L\\r\\n[Display 1]\\r\\nProfile=Studio\\r\\n"
                                     "Rotation=0\\r\\n\"");
}

// The desktop manager's processes that run, in the order of their pids ("Startup Core" for a session).
std::string LumoProcesses(BenchMachine& machine) {
    const std::string table = testsupport::ReadFileText(machine.Dir() + "/processes.ini");
    std::string running;
    for (size_t at = 0; (at = table.find("image = \"Veskora.Lumo.", at)) != std::string::npos;) {
        at += 22;
        running += (running.empty() ? "" : " ") + table.substr(at, table.find(".exe", at) - at);
    }
    return running;
}

using IniSectionEntries = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;

// The display driver's section of the description replaced by these settings.
void Driver(BenchMachine& machine, const std::vector<std::pair<std::string, std::string>>& settings) {
    machine.Edit([&](sim::MachineDescription& m) {
        for (auto it = m.extraSections.begin(); it != m.extraSections.end();)
            it = it->name == "display-driver" ? m.extraSections.erase(it) : it + 1;
        m.extraSections.push_back({"display-driver", settings});
    });
}

TEST(RunRestart, DriverDisabledAtOnceEndsWithTheFinalPassAfterOneRestart) {
    BenchMachine machine({"--virtual-clock"});
    const ProgramRun update = machine.Run({"-f", kStream, "-q"});
    EXPECT_TRANSCRIPT(UpToTheQuestion(2, kStream) + kProgramming + kUpdated, update.raw.out);
    EXPECT_EQ(update.exitCode, 0);
    EXPECT_TRANSCRIPT(
        StateText("enabled", kRestarted, RunOnce("-f " + kStream + " -q") + LogLine() + RestoreLine()),
        State(machine));

    const ProgramRun final = machine.Boot();
    EXPECT_TRANSCRIPT(FinalPass(true), final.raw.out);
    EXPECT_EQ(final.exitCode, 0);
    EXPECT_TRANSCRIPT(StateText("enabled", kFinalPass, " clean"), State(machine));
    EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
    EXPECT_EQ(machine.FpgaVersion(1), "1.7.2");
    EXPECT_EQ(LumoProcesses(machine), "Startup Core");
}

// The flash image through the display library, the driver staying up: the cards are written through their
// adapters, the card count and adapter indexes are kept for the final pass, which checks every card
// through the library at 50 kHz after the restart, in which the FPGAs configure from their flash.
TEST(RunRestart, FlashImageThroughTheLibraryIsCheckedByTheFinalPass) {
    BenchMachine machine({"--virtual-clock", "--display-library", "--adl-records", "2", "--card",
                          "0:fpga-version=1.6.13", "--card", "1:fpga-version=2.0.0"});
    const std::string upToTheQuestion =
        std::string(kBanner) +
        "   Found 2 Veskora Q740 graphics cards:\n PCIe Bus: 0x0300   FPGA version: 1.6.13\n"
        " PCIe Bus: 0x0400   FPGA version: 2.0.0\n\n   XSVF update file: " +
        kStream + "\n   Calibration...  Done.\n   Update will take up to 16 minutes.\n" +
        testsupport::WarningBox(false);
    // The adapter indexes stay until the next such update writes them again.
    const std::string adapters = kProgramKey + std::string("ADLINDEX0  REG_DWORD 0x00000000 (0)") +
                                 kProgramKey + "ADLINDEX1  REG_DWORD 0x00000002 (2)";
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    ASSERT_FALSE(run.raw.timedOut);
    EXPECT_TRANSCRIPT(upToTheQuestion + kProgramming + "{progress}\b \n\nExecution time = {digits} seconds\n",
                      run.raw.out);
    bench::ExpectLog(machine, testsupport::LogForm(bench::Logged(upToTheQuestion + kProgramming)) +
                                  "{log-progress}" +
                                  testsupport::LogForm("\b \n\nExecution time = {digits} seconds\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRANSCRIPT(StateText("enabled", kRestarted,
                                RunOnce("-f " + kStream + " -q") + adapters + LogLine() + RestoreLine() +
                                    kProgramKey + "Validate  REG_DWORD 0x00000002 (2)"),
                      State(machine));
    EXPECT_EQ(machine.FpgaVersion(0), "1.6.13"); // until the FPGA configures from its flash

    const ProgramRun final = machine.Boot();
    EXPECT_TRANSCRIPT(kBooted + std::string("\n\n") + bench::SavedTranscript(upToTheQuestion), final.raw.out);
    EXPECT_EQ(final.exitCode, 0);
    EXPECT_TRANSCRIPT(StateText("enabled", kFinalPass, adapters), State(machine));
    EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
    EXPECT_EQ(machine.FpgaVersion(1), "1.7.2");
}

TEST(RunRestart, DriverThatGoesOnlyAfterARestartTakesThreeRunsAndTwoRestarts) {
    BenchMachine machine({"--virtual-clock"});
    Driver(machine, {{"disable-needs-restart", "1"}});
    const ProgramRun first = machine.Run({"-f", kStream}, "y");
    EXPECT_TRANSCRIPT(kBanner + bench::Listing(2) + kRestartNow + kAsked, first.raw.out);
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_TRANSCRIPT(StateText("disable-pending", kRestarted, RunOnce("-f " + kStream) + ConfigLine()),
                      State(machine));

    // The resumed run takes the settings back from "Config", updates, puts the driver back and restarts.
    const ProgramRun resumed = machine.Boot("y");
    EXPECT_TRANSCRIPT(kBooted + UpToTheQuestion(2, kStream) + kAsked + kProgramming + kUpdated,
                      resumed.raw.out);
    EXPECT_EQ(resumed.exitCode, 0);
    EXPECT_TRANSCRIPT(
        StateText("enabled", kRestarted, RunOnce("-f " + kStream) + ConfigLine() + LogLine() + RestoreLine()),
        State(machine));
    EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");

    const ProgramRun final = machine.Boot("x");
    EXPECT_TRANSCRIPT(FinalPass(false), final.raw.out);
    EXPECT_EQ(final.exitCode, 0);
    // "Config" lingers until a later run ends without a restart.
    EXPECT_TRANSCRIPT(StateText("enabled", kFinalPass, ConfigLine()), State(machine));

    // The next fresh run writes "Config" back instead of exporting anew, and ends it. Its driver goes at
    // once; n at the update question ends the run without a restart. The cards run the image's version
    // now, so -x keeps the run on the stream.
    Driver(machine, {});
    machine.Sim({"reg-set", "SOFTWARE\\WOW6432Node\\Veskora Graphics\\VskQ740FwUpdater", "Config", "--bytes",
                 "saved 100% settings"});
    const ProgramRun fresh = machine.Run({"-f", kStream, "-x"}, "n");
    EXPECT_TRANSCRIPT(Replaced(UpToTheQuestion(2, kStream, true), "1.6.10", "1.7.2") + kAsked +
                          "   Update aborted.\n\n" + kPressAnyKey,
                      fresh.raw.out);
    EXPECT_EQ(fresh.exitCode, 0);
    EXPECT_EQ(testsupport::ReadFileText(machine.HostPath("C:\\Users\\user\\AppData\\Local\\Temp\\lvcfg.txt")),
              "saved 100% settings");
    EXPECT_TRANSCRIPT(StateText("enabled", kNotRestarted, " clean"), State(machine));
}

// A driver that can only be disabled after a restart, and a run that may not or will not restart.
TEST(RunRestart, DisableThatNeedsARestart) {
    const std::string restartLines = kRestartNow;
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        std::string tail;
        int exitCode;
        std::string state;
    } cases[] = {
        // -n: nothing is written and the machine keeps its driver: the pending disable is taken back.
        {"-n",
         {"-f", kStream, "-q", "-n"},
         "",
         "\n\n   For the display driver to be enabled, your system must be restarted.\n",
         3,
         StateText("enabled", kNotRestarted, " clean")},
        {"n",
         {"-f", kStream},
         "n",
         restartLines + kAsked + "   Update aborted.\n\n" + kPressAnyKey,
         0,
         StateText("enabled", kNotRestarted, " clean")},
        {"-q",
         {"-f", kStream, "-q"},
         "",
         restartLines,
         0,
         StateText("disable-pending", kRestarted, RunOnce("-f " + kStream + " -q") + ConfigLine())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine({"--virtual-clock"});
        Driver(machine, {{"disable-needs-restart", "1"}});
        const ProgramRun run = machine.Run(c.args, c.input);
        EXPECT_TRANSCRIPT(kBanner + bench::Listing(2) + c.tail, run.raw.out);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRANSCRIPT(c.state, State(machine));
        // The desktop manager, closed around the disable, runs again (a restart starts it anyway).
        EXPECT_EQ(LumoProcesses(machine), c.exitCode == 0 && c.input.empty() ? "" : "Core");
        EXPECT_NE(machine.FpgaVersion(0), "1.7.2");
    }
}

// After the update: an enable that needs a restart the run may not start, an import that fails, no
// display driver at all.
TEST(RunRestart, WhatTheUpdateLeavesToDo) {
    const struct {
        const char* name;
        std::vector<std::string> create;
        std::vector<std::pair<std::string, std::string>> driver, lumo;
        std::vector<std::string> args;
        std::string tail;
        int exitCode;
        std::string state;
    } cases[] = {
        {"enable needs a restart, -n",
         {},
         {{"enable-needs-restart", "1"}},
         {},
         {"-f", kStream, "-q", "-n"},
         "\n\n   Enabling the graphics driver requires a reboot.\n"
         "   You must reboot the computer to complete the update process.\n",
         4,
         StateText("enable-pending", kNotRestarted, " clean")},
        {"import fails",
         {},
         {},
         {{"import", "fails"}},
         {"-f", kStream, "-q"},
         "",
         0,
         StateText("enabled", kRestarted, RunOnce("-f " + kStream + " -q") + LogLine() + RestoreLine())},
        {"no display driver",
         {"--no-driver"},
         {},
         {},
         {"-f", kStream, "-q"},
         "",
         0,
         StateText("enabled", kNotRestarted, " clean")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> create{"--virtual-clock"};
        create.insert(create.end(), c.create.begin(), c.create.end());
        BenchMachine machine(create);
        machine.Edit([&](sim::MachineDescription& m) {
            if (!c.driver.empty())
                m.extraSections.push_back({"display-driver", c.driver});
            if (!c.lumo.empty())
                m.extraSections.push_back({"desktop-manager", c.lumo});
        });
        const ProgramRun run = machine.Run(c.args);
        EXPECT_TRANSCRIPT(UpToTheQuestion(2, kStream) + kProgramming + kUpdated + c.tail, run.raw.out);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRANSCRIPT(c.state, State(machine));
        EXPECT_EQ(machine.FpgaVersion(1), "1.7.2");
    }
}

// Two copies of the example stream without a flash image beside them, C:\\fw\\a.xsvf and b.xsvf.
void TwoStreams(BenchMachine& machine) {
    const std::string stream = testsupport::ReadFileText(kStream);
    for (const char* name : {"a", "b"}) {
        const std::string path = machine.HostPath("C:\\fw\\") + name + ".xsvf";
        testsupport::WriteFileText(path, stream);
        testsupport::WriteFileText(path + ".md5",
                                   Md5Hex(stream.data(), stream.size()) + "  " + name + ".xsvf\n");
    }
}

TEST(RunRestart, RepeatedUpdateTestCountsDownAcrossRestarts) {
    BenchMachine machine({"--virtual-clock"});
    TwoStreams(machine);
    const std::string a = "C:\\fw\\a.xsvf", b = "C:\\fw\\b.xsvf";
    const ProgramRun first = machine.Run({"-tc", "3", "-tf", b, "-f", a});
    // An odd count takes the -tf file; each run registers the next with the count one lower and restarts.
    EXPECT_TRANSCRIPT(TestRunUpTo(3, b) + kProgramming + kUpdated, first.raw.out);
    EXPECT_EQ(first.exitCode, 0);
    const std::string files = " -tf C:\\\\fw\\\\b.xsvf -f C:\\\\fw\\\\a.xsvf";
    EXPECT_TRANSCRIPT(StateText("enabled", kRestarted, RunOnce("-tc 2" + files)), State(machine));

    // The cards run the new version from here on.
    const auto now = [](const std::string& text) { return Replaced(text, "1.6.10", "1.7.2"); };
    ProgramRun run = machine.Boot();
    EXPECT_TRANSCRIPT(kBooted + now(TestRunUpTo(2, a)) + kProgramming + kUpdated, run.raw.out);
    EXPECT_TRANSCRIPT(StateText("enabled", kRestarted, RunOnce("-tc 1" + files)), State(machine));
    run = machine.Boot();
    EXPECT_TRANSCRIPT(kBooted + now(TestRunUpTo(1, b)) + kProgramming + kUpdated, run.raw.out);
    EXPECT_TRANSCRIPT(StateText("enabled", kRestarted, RunOnce("-tc 0" + files)), State(machine));

    // At 0 the last run is an ordinary quiet update, which restarts for its final pass.
    run = machine.Boot();
    EXPECT_TRANSCRIPT(kBooted + now(UpToTheQuestion(2, a, true)) + kProgramming + kUpdated, run.raw.out);
    EXPECT_EQ(run.exitCode, 0);
    run = machine.Boot();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRANSCRIPT(StateText("enabled", kFinalPass, " clean"), State(machine));
    EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
}

// The space bar during the test's poll aborts it; Ctrl+C ends a test run (power values put back, exit code
// 1) and is ignored by an ordinary run.
TEST(RunRestart, TheTestIsStoppedByTheSpaceBarAndCtrlC) {
    const std::string a = "C:\\fw\\a.xsvf";
    {
        BenchMachine machine({"--virtual-clock"});
        TwoStreams(machine);
        const ProgramRun run = machine.Run({"-tc", "3", "-f", a}, " ");
        EXPECT_TRANSCRIPT(TestRunUpTo(3, a) + "   Update aborted.\n\n", run.raw.out);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRANSCRIPT(StateText("enabled", kNotRestarted, " clean"), State(machine));
        EXPECT_EQ(LumoProcesses(machine), "Core");
        EXPECT_NE(machine.FpgaVersion(0), "1.7.2");
    }
    {
        BenchMachine machine({"--virtual-clock"});
        TwoStreams(machine);
        // Ctrl+C once the progress display turns: the workers finish, then the run ends with 1, the driver
        // back and the power values restored, without the restart. The next test run stays registered.
        const ProgramRun run = machine.RunSignalled({"-tc", "2", "-f", a}, "%/", SIGINT);
        EXPECT_TRANSCRIPT(TestRunUpTo(2, a) + kProgramming + kUpdated, run.raw.out);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
        EXPECT_EQ(machine.FpgaVersion(1), "1.7.2");
        EXPECT_TRANSCRIPT(StateText("enabled", kNotRestarted, RunOnce("-tc 1 -f C:\\\\fw\\\\a.xsvf")),
                          State(machine));
    }
    {
        BenchMachine machine({"--virtual-clock"});
        TwoStreams(machine);
        const ProgramRun run = machine.RunSignalled({"-f", a, "-q"}, "%/", SIGINT);
        EXPECT_TRANSCRIPT(UpToTheQuestion(2, a, true) + kProgramming + kUpdated, run.raw.out);
        EXPECT_EQ(run.exitCode, 0);
    }
}

// The command line RunOnce is given, from how the program was started: by bare name from its folder, by a
// full path, by a quoted path with blanks. The program is named by its quoted full path and relative update
// files become absolute and quoted (RunOnce starts programs in another folder, and an unquoted path with
// blanks would start another program); a line that needs neither stays as it was.
TEST(RunRestart, RegisteredCommandLine) {
    const struct {
        const char* name;
        std::string program, commandName, folder;
        std::vector<std::string> args;
        std::string registered;
    } cases[] = {
        {"bare name from its folder",
         "C:\\Tools\\VskQ740FwUpdater.exe",
         "VskQ740FwUpdater",
         "C:\\Tools",
         {"-f", "a.xsvf", "-q", "-tf", "b.xsvf"},
         "\\\"C:\\\\Tools\\\\VskQ740FwUpdater.exe\\\" -f \\\"C:\\\\Tools\\\\a.xsvf\\\" -q -tf "
         "\\\"C:\\\\Tools\\\\b.xsvf\\\""},
        {"full path, relative file",
         "C:\\Tools\\VskQ740FwUpdater.exe",
         "C:\\Tools\\VskQ740FwUpdater.exe",
         "C:\\Tools",
         {"-f", "a.xsvf", "-q"},
         "\\\"C:\\\\Tools\\\\VskQ740FwUpdater.exe\\\" -f \\\"C:\\\\Tools\\\\a.xsvf\\\" -q"},
        {"quoted path with blanks",
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe",
         "",
         "C:\\Users\\user",
         {"-f", "C:\\fw dir\\a.xsvf", "-q"},
         "\\\"C:\\\\Program Files\\\\Veskora\\\\VskQ740FwUpdater.exe\\\" -f \\\"C:\\\\fw "
         "dir\\\\a.xsvf\\\" -q"},
    };
    const std::string stream = testsupport::ReadFileText(kStream);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine({"--virtual-clock", "--program", c.program, "--command-name", c.commandName});
        Driver(machine, {{"disable-needs-restart", "1"}});
        for (const std::string& folder : {c.folder, std::string("C:\\fw dir")}) {
            const std::string path = machine.HostPath(folder + "\\a.xsvf");
            testsupport::WriteFileText(path, stream);
            testsupport::WriteFileText(path + ".md5", Md5Hex(stream.data(), stream.size()) + "  a.xsvf\n");
        }
        const ProgramRun run = machine.Run(c.args, "", machine.HostPath(c.folder));
        EXPECT_EQ(run.exitCode, 0) << run.raw.out;
        const std::string registry = machine.Registry();
        const std::string key =
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce\n";
        const size_t at = registry.find(key);
        ASSERT_NE(at, std::string::npos) << registry;
        EXPECT_EQ(
            registry.substr(at + key.size(), registry.find('\n', at + key.size()) + 1 - at - key.size()),
            "  VskQ740FwUpdater  REG_SZ \"" + c.registered + "\"\n");
    }
}

// The desktop manager as the run finds it: closed before the workers and its core started again at the
// end, whatever it does when it is closed; the run never waits on it for good.
TEST(RunRestart, DesktopManagerHowEverItBehaves) {
    const struct {
        const char* name;
        std::vector<std::string> create;
        std::vector<IniSectionEntries> sections;
        std::string running; // afterwards
    } cases[] = {
        {"as installed", {}, {}, "Core"},
        {"a core that comes back once", {}, {{"desktop-manager", {{"core-restarts", "1"}}}}, "Core"},
        {"a core that never dies",
         {},
         {{"desktop-manager", {{"unkillable", "core"}, {"close-event", "0"}}}},
         "Core"},
        {"no user sessions", {}, {{"sessions", {{"users", ""}}}}, ""},
        {"not installed", {"--no-desktop-manager"}, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> create{"--virtual-clock", "--no-driver"};
        create.insert(create.end(), c.create.begin(), c.create.end());
        BenchMachine machine(create);
        machine.Edit([&](sim::MachineDescription& m) {
            for (const auto& [name, entries] : c.sections)
                m.extraSections.push_back({name, entries});
        });
        const ProgramRun run = machine.Run({"-f", kStream, "-q"});
        EXPECT_TRANSCRIPT(UpToTheQuestion(2, kStream) + kProgramming + kUpdated, run.raw.out);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRANSCRIPT(StateText("enabled", kNotRestarted, " clean"), State(machine));
        EXPECT_EQ(LumoProcesses(machine), c.running);
        EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
    }
}

} // namespace
