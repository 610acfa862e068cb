// The simulated platform backend seen from outside, through q740sim probe: keys, console bytes, exit codes,
// the virtual clock and what the environment shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "ProcessRunner.h"
#include "sim/Machine.h"

namespace {

using testsupport::RunResult;

class SimPlatform : public ::testing::Test {
protected:
    void SetUp() override {
        sim::MachineDescription machine = sim::DefaultMachine(1);
        machine.virtualClock = true;
        machine.commandName = "VskQ740FwUpdater";
        std::string error;
        ASSERT_TRUE(sim::CreateMachine(dir_, machine, error)) << error;
    }

    RunResult Probe(const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<std::string> argv{VSK_Q740SIM, "probe", "--dir", dir_};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::RunOptions options;
        options.input = input;
        return testsupport::RunProgram(argv, options);
    }

    testsupport::TempDir temp_;
    std::string dir_ = temp_.Path() + "/m";
};

TEST_F(SimPlatform, KeysComeFromInputAndItsEndNeverBlocks) {
    struct Case {
        std::string input, output;
    } cases[] = {
        {"", "available 0\nend -1 -1 available 0\n"},
        {"y", "available 1\n121\nend -1 -1 available 0\n"},
        {"\xE9\n", "available 1\n233\n10\nend -1 -1 available 0\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = Probe({"keys"}, c.input);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, c.output) << c.input;
    }
}

TEST_F(SimPlatform, ConsoleTextKeepsItsOrderWithoutTerminalCodesInAPipe) {
    const RunResult r = Probe({"write"});
    EXPECT_EQ(r.out, "wide \xC3\xA9 narrow\a red\n");
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(SimPlatform, ExitRecordsTheFullCodeAndTheConsoleState) {
    const RunResult r = Probe({"exit", "45067"});
    EXPECT_EQ(r.exitCode, 45067 & 0xFF);
    uint32_t code = 0;
    ASSERT_TRUE(sim::ReadLastExitCode(dir_, code));
    EXPECT_EQ(code, 45067u);
    const sim::KeyValues record = sim::ReadRunRecord(dir_);
    EXPECT_NE(std::find(record.begin(), record.end(),
                        std::make_pair(std::string("cursor-visible"), std::string("1"))),
              record.end());
}

TEST_F(SimPlatform, ControlEventsReachHandlersLastInstalledFirstAndCloseEndsTheProcess) {
    const RunResult r = Probe({"ctrl"});
    EXPECT_EQ(r.out, "second 0\nfirst 0\nsecond 2\nfirst 2\n");
    EXPECT_EQ(r.exitCode, 0x3A);
    uint32_t code = 0;
    ASSERT_TRUE(sim::ReadLastExitCode(dir_, code));
    EXPECT_EQ(code, 0xC000013Au);
}

TEST_F(SimPlatform, VirtualClockRunsAMinuteInNoTime) {
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = Probe({"sleep", "60000"});
    EXPECT_EQ(r.out, "slept enough\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(SimPlatform, EnvironmentShowsWindowsValues) {
    const RunResult r = Probe({"info", "%LOCALAPPDATA%\\Veskora", "%unknown%x%TEMP%"});
    EXPECT_EQ(r.out, "module: C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\n"
                     "command line: VskQ740FwUpdater probe --dir " +
                         dir_ +
                         " info %LOCALAPPDATA%\\Veskora %unknown%x%TEMP%\n"
                         "temp: C:\\Users\\user\\AppData\\Local\\Temp\\\n"
                         "windows: 10.0 wow64 1 64-bit 1\n"
                         "expand: C:\\Users\\user\\AppData\\Local\\Veskora\n"
                         "expand: %unknown%xC:\\Users\\user\\AppData\\Local\\Temp\n");
}

} // namespace
