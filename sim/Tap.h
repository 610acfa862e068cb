// The IEEE 1149.1 TAP controller of a simulated card: sixteen states, one transition function, and a
// controller that clocks a JtagDevice on TCK rising edges.
#pragma once

#include <cstdint>

#include "sim/JtagDevice.h"

namespace sim {

// Numbered as XSVF numbers them.
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

constexpr int kTapStateCount = 16;

// The state after one TCK rising edge with TMS at `tms`.
TapState NextTapState(TapState state, bool tms);
const char* TapStateName(TapState state); // "Shift-DR"

// Drives the device behind the TAP. On a rising edge the current state's action happens first (capture in
// Capture-xR, a shift in Shift-xR, a clock in Run-Test/Idle), then the state moves on. Entering
// Update-xR applies the update at once (the real part does it on the falling edge that follows; nothing
// can be seen in between); entering Test-Logic-Reset from another state resets the device. TDO is the
// device's level in Shift-IR and Shift-DR and 1 elsewhere (the line is not driven then and a pull-up holds
// it high). Not thread-safe: used by its card's one thread at a time.
class TapController {
public:
    // `device` may be null: the TAP then walks its states and reads TDO as 1. The device is reset once, as
    // at power-up.
    explicit TapController(JtagDevice* device);

    void RisingEdge(bool tms, bool tdi);
    TapState State() const { return state_; }
    bool Tdo() const;
    uint64_t Edges() const { return edges_; }

private:
    JtagDevice* device_;
    TapState state_ = TapState::TestLogicReset;
    uint64_t edges_ = 0;
};

} // namespace sim
