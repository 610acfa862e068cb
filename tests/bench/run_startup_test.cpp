#include <gtest/gtest.h>

#include <string>

#include "BenchMachine.h"
#include "Goldens.h"
#include "LogHeader.h"

namespace {

using testsupport::kBanner;
using testsupport::kPressAnyKey;

// The default machine's two cards listed, nothing to write.
const std::string kListed = std::string(kBanner) + "   Found 2 Veskora Q740 graphics cards:\n"
                                                   " PCIe Bus: 0x0300   FPGA version: 1.6.10\n"
                                                   " PCIe Bus: 0x0400   FPGA version: 1.6.10\n\n";

TEST(RunStartup, ArgumentsDecideTheConsoleTextAndExitCode) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int exitCode;
    };
    const std::string help = std::string("\n\n") + testsupport::kHelpScreen + testsupport::kHelpEnd;
    const Case cases[] = {
        {{}, kListed + kPressAnyKey, 1},
        {{"-q"}, kListed, 1},
        {{"-h"}, help, 0},
        {{"-q", "--HELP", "ignored"}, help, 0},
        {{"nonsense", "-f", "fw.XSVF", "-tc"},
         "\n\nError: Invalid parameter: 'nonsense'.\n-f is specified but does not point to a .xsvf file.\n"
         "-tc is specified but parameter is missing.\n" +
             std::string(testsupport::kErrorsEnd),
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
    const std::string body = "Veskora Q740 Firmware Update Utility - Version 2.0.3.1\r\n\r\n\r\n"
                             "   Found 2 Veskora Q740 graphics cards:\r\n"
                             " PCIe Bus: 0x0300   FPGA version: 1.6.10\r\n"
                             " PCIe Bus: 0x0400   FPGA version: 1.6.10\r\n\r\n";
    const std::string tail = "\r\n\r\nPress any key to exit...\r\n";
    // Two runs that reached the log: each part is the header, the banner and the listing.
    size_t pos = 0;
    for (int run = 0; run < 2; ++run) {
        const size_t header = testsupport::LogHeaderAt(log, pos);
        ASSERT_GT(header, 0u) << log;
        pos += header;
        ASSERT_EQ(log.compare(pos, body.size(), body), 0) << log;
        pos += body.size();
    }
    EXPECT_EQ(log.substr(pos), tail);
    EXPECT_EQ(log.find("Invalid parameter"), std::string::npos);
}

TEST(RunStartup, UnwritableLogFolderLeavesTheConsoleAlone) {
    BenchMachine machine;
    // A file where the log folder should be: no log can be written.
    testsupport::WriteFileText(machine.HostPath("C:\\Users\\user\\AppData\\Local\\Veskora"), "in the way");
    const ProgramRun run = machine.Run({"-q"});
    EXPECT_EQ(run.raw.out, kListed);
    EXPECT_EQ(run.exitCode, 1);
}

TEST(RunStartup, ServiceThatCannotBeInstalledEndsTheRun) {
    // The uninstaller's target is in use and cannot be replaced at restart either.
    BenchMachine machine(
        {"--locked-file", "C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe", "--restart-moves-fail"});
    const ProgramRun run = machine.Run({"-q"});
    EXPECT_EQ(run.raw.out, std::string(kBanner) + "ERROR: InitVSKLibrary failed.");
    EXPECT_EQ(run.exitCode, 1);
}

TEST(RunStartup, AFailedInstallLeavesNoMoveForTheNextRestart) {
    // The library's place is in use: its image waits in a temporary file for the next restart, and the
    // install fails since no library can be loaded before then.
    BenchMachine machine({"--locked-file", "C:\\Windows\\SysWOW64\\VskVxdSC.dll"});
    const ProgramRun run = machine.Run({"-q"});
    EXPECT_EQ(run.raw.out, std::string(kBanner) + "ERROR: InitVSKLibrary failed.");
    EXPECT_EQ(run.exitCode, 1);
    const testsupport::RunResult boot = machine.Sim({"boot"});
    EXPECT_EQ(boot.exitCode, 0);
    EXPECT_EQ(boot.err, "");
    EXPECT_EQ(boot.out.substr(0, boot.out.find('\n')),
              "Restarted: 0 restart-time file operations carried out");
}

TEST(RunStartup, TestCountWaitsSixtySecondsOnTheMachineClockAndIsQuiet) {
    BenchMachine machine({"--virtual-clock"});
    const ProgramRun run = machine.Run({"-tc", "2"});
    EXPECT_FALSE(run.raw.timedOut);
    EXPECT_EQ(run.raw.out, kListed);
    EXPECT_EQ(run.exitCode, 1);
}

TEST(RunStartup, KeyWaitEndsWithTheInput) {
    BenchMachine machine;
    const ProgramRun run = machine.Run({}, "k");
    EXPECT_EQ(run.raw.out, kListed + kPressAnyKey);
    EXPECT_EQ(run.exitCode, 1);
}

} // namespace
