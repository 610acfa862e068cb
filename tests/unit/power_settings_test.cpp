// The power values around an update and the restart request.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "system/PowerSettings.h"

namespace {

std::string Write(const plat::PowerGuid& setting, uint32_t value) {
    return "write " + std::to_string(setting.data1) + " " + std::to_string(value);
}

TEST(PowerSettings, ValuesAreChangedAndPutBackOnlyWhenTheyWereRead) {
    FakePlatform p;
    p.fakePower.ac[kProcessorThrottleMinimum.data1] = 5;
    p.fakePower.ac[kVideoPowerdownTimeout.data1] = 600;
    CPowerSettings power(p.fakeConsole, p.fakePower, p.fakeProcesses);
    power.ApplyUpdatePowerSettings([] {});
    EXPECT_TRUE(p.fakePower.highPriority);
    EXPECT_EQ(p.fakePower.executionState, 0x80000041u);
    EXPECT_EQ(p.fakePower.ac[kProcessorThrottleMinimum.data1], 100u);
    EXPECT_EQ(p.fakePower.ac[kVideoPowerdownTimeout.data1], 0u);
    p.fakePower.calls.clear();
    power.RestartSystem({});
    EXPECT_TRUE(power.RestartInitiated());
    const std::vector<std::string> restart = {Write(kProcessorThrottleMinimum, 5),
                                              Write(kVideoPowerdownTimeout, 600), "activate", "privilege",
                                              "restart 0 1 1 65539"};
    EXPECT_EQ(p.fakePower.calls, restart);

    // A scheme whose values cannot be read is left as it is: no 0 is written back.
    FakePlatform q;
    q.fakePower.readFails = true;
    CPowerSettings unreadable(q.fakeConsole, q.fakePower, q.fakeProcesses);
    unreadable.ApplyUpdatePowerSettings([] {});
    unreadable.RestorePowerSettings();
    for (const std::string& call : q.fakePower.calls)
        EXPECT_EQ(call.rfind("write", 0), std::string::npos) << call;
}

// A control event ends the process with 1 after the values go back, unless the run ends itself (its
// workers write to the cards): then the handler touches nothing.
TEST(PowerSettings, ControlEventEndsTheProcessOnlyWhenTheRunDoesNotEndItself) {
    for (const bool runEndsItself : {false, true}) {
        SCOPED_TRACE(runEndsItself);
        FakePlatform p;
        p.fakePower.ac[kProcessorThrottleMinimum.data1] = 5;
        CPowerSettings power(p.fakeConsole, p.fakePower, p.fakeProcesses);
        int cleanUps = 0;
        power.ApplyUpdatePowerSettings([&cleanUps] { ++cleanUps; }, [&] { return runEndsItself; });
        ASSERT_EQ(p.fakeConsole.handlers.size(), 1u);
        p.fakePower.calls.clear();
        int exitCode = -1;
        try {
            EXPECT_TRUE(p.fakeConsole.handlers[0](0));
        } catch (const FakeProcesses::ExitCalled& exit) {
            exitCode = exit.code;
        }
        EXPECT_EQ(exitCode, runEndsItself ? -1 : 1);
        EXPECT_EQ(cleanUps, runEndsItself ? 0 : 1);
        EXPECT_EQ(p.fakePower.ac[kProcessorThrottleMinimum.data1], runEndsItself ? 100u : 5u);
    }
}

} // namespace
