#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "BenchMachine.h"

namespace {

const char kBannerAndFailure[] = "\n\nVeskora Q740 Firmware Update Utility - Version 2.0.3.1\n\n\n"
                                 "ERROR: InitVSKLibrary failed.";

TEST(RunStartup, ArgumentsDecideTheConsoleTextAndExitCode) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int exitCode;
    };
    const std::string help =
        "VskQ740FwUpdater command line options:\n"
        "================================\n"
        "-q, --quiet               Suppresses all prompts\n"
        "-f, --flash <Filename>    Flashes an FPGA firmware file (*.xsvf)\n"
        "-b, --nobeep              Suppresses the audible beep during the update process\n"
        "-x, --xsvf                Force update to be performed by XSVF\n"
        "-n, --noreboot            Prompt user to perform reboot and re-launch of "
        "VskQ740FwUpdater\n\n\n"
        "Sample write (update/flash) command line:\n"
        "=========================================\n"
        "VskQ740FwUpdater -f UpdateFilename.xsvf\n\n";
    const Case cases[] = {
        {{}, std::string(kBannerAndFailure) + "\n\nPress any key to exit...\n", 1},
        {{"-q"}, kBannerAndFailure, 1},
        {{"-h"}, "\n\n" + help + "\n\nPress any key to exit...\n\n\n", 0},
        {{"-q", "--HELP", "ignored"}, "\n\n" + help + "\n\nPress any key to exit...\n\n\n", 0},
        {{"nonsense", "-f", "fw.XSVF", "-tc"},
         "\n\nError: Invalid parameter: 'nonsense'.\n-f is specified but does not point to a .xsvf file.\n"
         "-tc is specified but parameter is missing.\n\n"
         "For more information, see the help file [-h].\n\nPress any key to exit...\n\n\n",
         0},
    };
    BenchMachine machine;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProgramRun run = machine.Run(c.args);
        EXPECT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.raw.out, c.out);
        EXPECT_EQ(run.exitCode, c.exitCode);
    }
}

TEST(RunStartup, LogFileGetsHeaderAndMessagesWithCrLfAndIsAppended) {
    BenchMachine machine;
    machine.Run({"-q"});
    machine.Run({"bad"}); // parse errors never reach the log
    machine.Run({});
    const std::string log = machine.LogText();
    const std::regex entry(
        "\r\n===================\r\n[0-3][0-9]-[01][0-9]-20[0-9][0-9] (0[1-9]|1[0-2]):[0-5][0-9]:"
        "[0-5][0-9]\r\n===================\r\n"
        "Veskora Q740 Firmware Update Utility - Version 2.0.3.1\r\n\r\n\r\n"
        "ERROR: InitVSKLibrary failed.");
    const std::string tail = "\r\n\r\nPress any key to exit...\r\n";
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, entry)) << log;
    EXPECT_EQ(m.position(0), 0);
    const std::string second = log.substr(static_cast<size_t>(m.length(0)));
    ASSERT_TRUE(std::regex_search(second, m, entry)) << log;
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(second.substr(static_cast<size_t>(m.length(0))), tail);
    EXPECT_EQ(log.find("Invalid parameter"), std::string::npos);
}

TEST(RunStartup, UnwritableLogFolderLeavesTheConsoleAlone) {
    BenchMachine machine;
    // A file where the log folder should be: no log can be written.
    testsupport::WriteFileText(machine.HostPath("C:\\Users\\user\\AppData\\Local\\Veskora"), "in the way");
    const ProgramRun run = machine.Run({"-q"});
    EXPECT_EQ(run.raw.out, kBannerAndFailure);
    EXPECT_EQ(run.exitCode, 1);
}

TEST(RunStartup, TestCountWaitsSixtySecondsOnTheMachineClockAndIsQuiet) {
    BenchMachine machine({"--virtual-clock"});
    const ProgramRun run = machine.Run({"-tc", "2"});
    EXPECT_FALSE(run.raw.timedOut);
    EXPECT_EQ(run.raw.out, kBannerAndFailure);
    EXPECT_EQ(run.exitCode, 1);
}

TEST(RunStartup, KeyWaitEndsWithTheInput) {
    BenchMachine machine;
    const ProgramRun run = machine.Run({}, "k");
    EXPECT_EQ(run.raw.out, std::string(kBannerAndFailure) + "\n\nPress any key to exit...\n");
    EXPECT_EQ(run.exitCode, 1);
}

} // namespace
