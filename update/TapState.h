// The JTAG TAP controller as data: its sixteen states, numbered as update streams number them, the
// transition on one TCK rising edge, and the TMS path that the port layer clocks to move between states.
#pragma once

#include <cstdint>

enum class TapState : uint8_t {
    TestLogicReset = 0,
    RunTestIdle = 1,
    SelectDrScan = 2,
    CaptureDr = 3,
    ShiftDr = 4,
    Exit1Dr = 5,
    PauseDr = 6,
    Exit2Dr = 7,
    UpdateDr = 8,
    SelectIrScan = 9,
    CaptureIr = 10,
    ShiftIr = 11,
    Exit1Ir = 12,
    PauseIr = 13,
    Exit2Ir = 14,
    UpdateIr = 15,
};

constexpr uint32_t kTapStateCount = 16;

// The result of a navigation that names no state or asks for a path the walk refuses.
constexpr int32_t kTapIllegalState = 5;

// The state a TAP controller enters on a TCK rising edge with the given TMS level.
TapState Next(TapState state, bool tms);

// TMS levels to clock, one TCK rising edge each; bit 0 is clocked first.
struct TapPath {
    uint32_t bits = 0;
    uint32_t count = 0;
};

// Longest path a walk may take; no legal move needs more than eight edges (six for a reset).
constexpr uint32_t kMaxTapPathLength = 16;

// The path from `from` to `target`:
// - to Test-Logic-Reset always six edges with TMS high, whatever the state;
// - to Exit2-DR only from Pause-DR and to Exit2-IR only from Pause-IR, else refused;
// - to the state it is in: nothing, except in a Pause state, where the walk goes once round through Exit2
//   and the rest of the column and re-enters the Pause state;
// - otherwise the walk that prefers the target's column at each branch.
// Returns 0, or kTapIllegalState with an empty path for a refused move.
int32_t TapPathTo(TapState from, TapState target, TapPath& path);

// Converts a state number from an update stream; false for a number above 15.
bool TapStateFromNumber(uint32_t number, TapState& state);
