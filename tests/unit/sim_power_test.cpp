#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "sim/Power.h"

namespace {

const char kProgram[] = "VskQ740FwUpdater.exe";

TEST(SimPower, AcValuesTakeEffectOnlyWhenTheSchemeIsActivated) {
    sim::PowerSettings settings;
    settings.acMinProcessor = 20;
    settings.acDisplayTimeout = 900;
    sim::PowerState state = sim::InitialPower(settings);
    uint32_t minimum = 0, timeout = 0;
    ASSERT_EQ(sim::ReadAcValue(state, settings, state.activeScheme, sim::kProcessorSubgroup,
                               sim::kProcessorMinimum, minimum),
              0u);
    // GUIDs compare without case and braces.
    ASSERT_EQ(sim::ReadAcValue(state, settings, "381b4222-f694-41f0-9685-d5958d3c4be6",
                               "{7516b95f-f776-4464-8c53-06167f40cc99}",
                               "3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e", timeout),
              0u);
    EXPECT_EQ(minimum, 20u);
    EXPECT_EQ(timeout, 900u);
    ASSERT_EQ(sim::WriteAcValue(state, settings, state.activeScheme, sim::kProcessorSubgroup,
                                sim::kProcessorMinimum, 100),
              0u);
    ASSERT_EQ(
        sim::WriteAcValue(state, settings, state.activeScheme, sim::kVideoSubgroup, sim::kVideoTimeout, 0),
        0u);
    EXPECT_EQ(state.activeMinProcessor, 20u);
    EXPECT_EQ(state.activeDisplayTimeout, 900u);
    ASSERT_EQ(sim::ActivateScheme(state, state.activeScheme), 0u);
    EXPECT_EQ(state.activeMinProcessor, 100u);
    EXPECT_EQ(state.activeDisplayTimeout, 0u);
    EXPECT_EQ(state.dcMinProcessor, 5u); // battery values are never touched
    EXPECT_EQ(state.dcDisplayTimeout, 300u);
    EXPECT_EQ(state.activations, 1u);
}

TEST(SimPower, CallsThatFail) {
    struct Case {
        const char* name;
        bool readFails, writeFails;
        const char* scheme;
        const char* subgroup;
        const char* setting;
        uint32_t value;
        uint32_t readResult, writeResult;
    } cases[] = {
        {"another scheme", false, false, "{8C5E7FDA-E8BF-4A96-9A85-A6E23A8C635C}", sim::kProcessorSubgroup,
         sim::kProcessorMinimum, 50, 2, 2},
        {"setting not in its subgroup", false, false, sim::kBalancedScheme, sim::kVideoSubgroup,
         sim::kProcessorMinimum, 50, 2, 2},
        {"processor state above 100", false, false, sim::kBalancedScheme, sim::kProcessorSubgroup,
         sim::kProcessorMinimum, 101, 0, 87},
        {"read fails", true, false, sim::kBalancedScheme, sim::kProcessorSubgroup, sim::kProcessorMinimum, 50,
         30, 0},
        {"write fails", false, true, sim::kBalancedScheme, sim::kVideoSubgroup, sim::kVideoTimeout, 0, 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PowerSettings settings;
        settings.readFails = c.readFails;
        settings.writeFails = c.writeFails;
        sim::PowerState state = sim::InitialPower(settings);
        uint32_t value = 12345;
        EXPECT_EQ(sim::ReadAcValue(state, settings, c.scheme, c.subgroup, c.setting, value), c.readResult);
        if (c.readResult != 0) {
            EXPECT_EQ(value, 12345u); // untouched on failure
        }
        const sim::PowerState before = state;
        EXPECT_EQ(sim::WriteAcValue(state, settings, c.scheme, c.subgroup, c.setting, c.value),
                  c.writeResult);
        if (c.writeResult != 0) {
            EXPECT_EQ(state.acMinProcessor, before.acMinProcessor);
            EXPECT_EQ(state.acDisplayTimeout, before.acDisplayTimeout);
        }
    }
}

TEST(SimPower, ExecutionStateAndPriorityClass) {
    sim::PowerState state;
    struct Case {
        uint32_t flags;
        bool accepted;
        uint32_t kept; // the state recorded afterwards
    } cases[] = {
        {0x80000041u, true, 0x80000041u},  // continuous, away mode, system required: as the updater asks
        {0x00000040u, false, 0x80000041u}, // away mode without ES_CONTINUOUS is refused
        {0x80000004u, false, 0x80000041u}, // ES_USER_PRESENT is refused
        {0x00000001u, true, 0x80000041u},  // a one-time reset changes nothing that lasts
        {0x80000003u, true, 0x80000003u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        const uint32_t previous = sim::SetExecutionState(state, kProgram, c.flags);
        EXPECT_EQ(previous != 0, c.accepted);
        EXPECT_EQ(state.executionState, c.kept);
        EXPECT_EQ(state.executionBy, kProgram);
    }
    EXPECT_TRUE(sim::SetPriorityClass(state, kProgram, 0x80));
    EXPECT_EQ(state.priorityClass, 0x80u);
    EXPECT_FALSE(sim::SetPriorityClass(state, kProgram, 0x81));
    EXPECT_EQ(state.priorityClass, 0x80u);
}

TEST(SimPower, RestartNeedsThePrivilegeAndRecordsWhatWasAsked) {
    struct Case {
        const char* name;
        bool held, refused, enable;
        uint32_t enableResult, result;
    } cases[] = {
        {"privilege enabled", true, false, true, 0, 0},
        {"privilege not enabled", true, false, false, 0, 5},
        {"token lacks the privilege", false, false, true, 1300, 5},
        {"request refused", true, true, true, 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PowerSettings settings;
        settings.shutdownPrivilege = c.held;
        settings.restartRefused = c.refused;
        sim::PowerState state;
        if (c.enable) {
            EXPECT_EQ(sim::EnableShutdownPrivilege(state, settings), c.enableResult);
        }
        EXPECT_EQ(sim::RequestShutdown(state, settings, kProgram, 0, true, true, 0x00010003), c.result);
        EXPECT_EQ(state.restart.requested, c.result == 0);
        if (c.result != 0)
            continue;
        EXPECT_TRUE(state.restart.forceAppsClosed);
        EXPECT_TRUE(state.restart.rebootAfterShutdown);
        EXPECT_EQ(state.restart.reason, 0x00010003u);
        EXPECT_EQ(state.restart.by, kProgram);
        EXPECT_EQ(sim::RequestShutdown(state, settings, kProgram, 0, true, true, 0x00010003), 1115u);
    }
    EXPECT_EQ(sim::DescribeShutdownReason(0x00010003), "hardware: upgrade (unplanned)");
    EXPECT_EQ(sim::DescribeShutdownReason(0x80020002), "operating system: installation (planned)");
}

TEST(SimPower, StatePersistsAndARestartEndsWhatProcessesAskedFor) {
    char pattern[] = "/tmp/sim-power-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    sim::PowerSettings settings;
    sim::PowerState state;
    ASSERT_TRUE(sim::LoadPower(dir, settings, state));
    sim::WriteAcValue(state, settings, state.activeScheme, sim::kProcessorSubgroup, sim::kProcessorMinimum,
                      100);
    sim::ActivateScheme(state, state.activeScheme);
    sim::SetExecutionState(state, kProgram, 0x80000041u);
    sim::SetPriorityClass(state, kProgram, 0x80);
    sim::EnableShutdownPrivilege(state, settings);
    sim::RequestShutdown(state, settings, kProgram, 0, true, true, 0x00010003);
    ASSERT_TRUE(sim::SavePower(dir, state));

    sim::PowerState loaded;
    ASSERT_TRUE(sim::LoadPower(dir, settings, loaded));
    EXPECT_EQ(loaded.acMinProcessor, 100u);
    EXPECT_EQ(loaded.activeMinProcessor, 100u);
    EXPECT_EQ(loaded.acDisplayTimeout, 600u);
    EXPECT_EQ(loaded.executionState, 0x80000041u);
    EXPECT_EQ(loaded.executionBy, kProgram);
    EXPECT_EQ(loaded.priorityClass, 0x80u);
    EXPECT_TRUE(loaded.restart.requested);
    EXPECT_EQ(loaded.restart.reason, 0x00010003u);
    EXPECT_EQ(loaded.restart.by, kProgram);

    sim::PowerAtRestart(loaded);
    EXPECT_FALSE(loaded.restart.requested);
    EXPECT_EQ(loaded.executionState, 0u);
    EXPECT_EQ(loaded.priorityClass, 0x20u);
    EXPECT_FALSE(loaded.privilegeEnabled);
    EXPECT_EQ(loaded.acMinProcessor, 100u); // the scheme keeps what was written
    std::filesystem::remove_all(dir);
}

} // namespace
