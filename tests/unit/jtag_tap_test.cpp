// TAP navigation checked against a TAP controller written here from the IEEE 1149.1 state diagram, by
// decoding the register writes into TCK rising edges and the TMS level at each.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fakes/RecordingRegisterBus.h"
#include "update/JtagPort.h"
#include "update/TapState.h"

namespace {

// IEEE 1149.1 state diagram, by state number: {next with TMS 0, next with TMS 1}.
constexpr uint8_t kDiagram[16][2] = {
    {1, 0},   // Test-Logic-Reset
    {1, 2},   // Run-Test/Idle
    {3, 9},   // Select-DR-Scan
    {4, 5},   // Capture-DR
    {4, 5},   // Shift-DR
    {6, 8},   // Exit1-DR
    {6, 7},   // Pause-DR
    {4, 8},   // Exit2-DR
    {1, 2},   // Update-DR
    {10, 0},  // Select-IR-Scan
    {11, 12}, // Capture-IR
    {11, 12}, // Shift-IR
    {13, 15}, // Exit1-IR
    {13, 14}, // Pause-IR
    {11, 15}, // Exit2-IR
    {1, 2},   // Update-IR
};

constexpr uint8_t kPauseDr = 6, kExit2Dr = 7, kShiftIr = 11, kPauseIr = 13, kExit2Ir = 14;

struct Walk {
    int32_t result;
    uint8_t state;
    std::vector<TckEdge> edges;
};

Walk RunGoto(uint8_t from, uint8_t to) {
    RecordingRegisterBus bus;
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    const uint32_t initial = kLineClaim | kLineTck; // as a previous step leaves it: clock high
    job.gpioImage = initial;
    Walk walk{0, from, {}};
    walk.result = GotoTapState(job, bus, walk.state, to);
    walk.edges = RisingEdges(bus.log, initial);
    return walk;
}

std::vector<bool> Tms(const std::vector<TckEdge>& edges) {
    std::vector<bool> levels;
    for (const TckEdge& e : edges)
        levels.push_back(e.tms);
    return levels;
}

TEST(TapState, NextFollowsTheStateDiagramAndFiveTmsHighReachReset) {
    for (uint8_t s = 0; s < 16; ++s) {
        for (int tms = 0; tms < 2; ++tms)
            EXPECT_EQ(static_cast<uint8_t>(Next(static_cast<TapState>(s), tms != 0)), kDiagram[s][tms])
                << int(s) << " tms " << tms;
        TapState state = static_cast<TapState>(s);
        for (int i = 0; i < 5; ++i)
            state = Next(state, true);
        EXPECT_EQ(state, TapState::TestLogicReset) << int(s);
    }
}

// Every pair of states: a legal move ends in the target by the diagram, within eight edges, never passing
// through Test-Logic-Reset unless asked to, with TMS settled before every edge; a refused one clocks nothing.
TEST(GotoTapState, EveryPairReachesItsTargetOrIsRefusedWithoutClock) {
    for (uint8_t from = 0; from < 16; ++from) {
        for (uint8_t to = 0; to < 16; ++to) {
            SCOPED_TRACE(testing::Message() << int(from) << " -> " << int(to));
            const Walk walk = RunGoto(from, to);
            const bool refused =
                to != from && ((to == kExit2Dr && from != kPauseDr) || (to == kExit2Ir && from != kPauseIr));
            if (refused) {
                EXPECT_EQ(walk.result, kTapIllegalState);
                EXPECT_EQ(walk.state, from);
                EXPECT_TRUE(walk.edges.empty());
                continue;
            }
            EXPECT_EQ(walk.result, 0);
            EXPECT_EQ(walk.state, to);
            uint8_t model = from;
            for (size_t i = 0; i < walk.edges.size(); ++i) {
                EXPECT_TRUE(walk.edges[i].stable) << "edge " << i;
                model = kDiagram[model][walk.edges[i].tms ? 1 : 0];
                if (to != 0) {
                    EXPECT_NE(model, 0) << "passed through Test-Logic-Reset at edge " << i;
                }
            }
            EXPECT_EQ(model, to);
            if (to == 0)
                EXPECT_EQ(Tms(walk.edges), std::vector<bool>(6, true));
            else if (from == to)
                EXPECT_EQ(walk.edges.empty(), from != kPauseDr && from != kPauseIr);
            else
                EXPECT_LE(walk.edges.size(), 8u);
        }
    }
}

TEST(GotoTapState, ClocksTheTmsSequencesOfTheWalkTable) {
    struct Case {
        uint8_t from, to;
        std::vector<bool> tms;
    };
    const Case cases[] = {
        {1, kShiftIr, {1, 1, 0, 0}},              // Select-DR, Select-IR, Capture-IR, Shift-IR
        {5, 1, {1, 0}},                           // Update-DR, Run-Test/Idle
        {4, 4, {}},                               // staying in Shift-DR clocks nothing
        {kPauseDr, kPauseDr, {1, 1, 1, 0, 1, 0}}, // once round: Exit2, Update, Select, Capture, Exit1, Pause
        {kPauseIr, kPauseIr, {1, 1, 1, 1, 0, 1, 0}}, // the same through Select-IR-Scan
        {kPauseDr, kExit2Dr, {1}},
        {0, 0, {1, 1, 1, 1, 1, 1}}, // reset is performed even in Test-Logic-Reset
        {9, 1, {0, 1, 1, 0}},       // Capture-IR, Exit1-IR, Update-IR, Run-Test/Idle
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.from) << " -> " << int(c.to));
        const Walk walk = RunGoto(c.from, c.to);
        EXPECT_EQ(walk.result, 0);
        EXPECT_EQ(Tms(walk.edges), c.tms);
    }
}

TEST(GotoTapState, StateNumbersAbove15AreRefusedExceptThatResetAlwaysWorks) {
    const Walk badTarget = RunGoto(1, 16);
    EXPECT_EQ(badTarget.result, kTapIllegalState);
    EXPECT_EQ(badTarget.state, 1);
    EXPECT_TRUE(badTarget.edges.empty());

    const Walk badCurrent = RunGoto(200, 4);
    EXPECT_EQ(badCurrent.result, kTapIllegalState);
    EXPECT_TRUE(badCurrent.edges.empty());

    const Walk reset = RunGoto(200, 0);
    EXPECT_EQ(reset.result, 0);
    EXPECT_EQ(reset.state, 0);
    EXPECT_EQ(Tms(reset.edges), std::vector<bool>(6, true));
}

} // namespace
