#include "update/TapState.h"

TapState Next(TapState state, bool tms) {
    switch (state) {
    case TapState::TestLogicReset:
        return tms ? TapState::TestLogicReset : TapState::RunTestIdle;
    case TapState::RunTestIdle:
        return tms ? TapState::SelectDrScan : TapState::RunTestIdle;
    case TapState::SelectDrScan:
        return tms ? TapState::SelectIrScan : TapState::CaptureDr;
    case TapState::CaptureDr:
        return tms ? TapState::Exit1Dr : TapState::ShiftDr;
    case TapState::ShiftDr:
        return tms ? TapState::Exit1Dr : TapState::ShiftDr;
    case TapState::Exit1Dr:
        return tms ? TapState::UpdateDr : TapState::PauseDr;
    case TapState::PauseDr:
        return tms ? TapState::Exit2Dr : TapState::PauseDr;
    case TapState::Exit2Dr:
        return tms ? TapState::UpdateDr : TapState::ShiftDr;
    case TapState::UpdateDr:
        return tms ? TapState::SelectDrScan : TapState::RunTestIdle;
    case TapState::SelectIrScan:
        return tms ? TapState::TestLogicReset : TapState::CaptureIr;
    case TapState::CaptureIr:
        return tms ? TapState::Exit1Ir : TapState::ShiftIr;
    case TapState::ShiftIr:
        return tms ? TapState::Exit1Ir : TapState::ShiftIr;
    case TapState::Exit1Ir:
        return tms ? TapState::UpdateIr : TapState::PauseIr;
    case TapState::PauseIr:
        return tms ? TapState::Exit2Ir : TapState::PauseIr;
    case TapState::Exit2Ir:
        return tms ? TapState::UpdateIr : TapState::ShiftIr;
    case TapState::UpdateIr:
        return tms ? TapState::SelectDrScan : TapState::RunTestIdle;
    }
    return TapState::TestLogicReset; // not reached: the switch names every state
}

namespace {

// The TMS level of the next step of a walk towards target. At each branch the walk takes the arm that leads
// to the target: into the IR column for targets from Select-IR-Scan on, into Shift or Pause when that is the
// target, back to Run-Test/Idle when that is the target; every other branch goes on to Update and round.
bool TmsTowards(TapState state, TapState target) {
    switch (state) {
    case TapState::SelectDrScan:
        return target >= TapState::SelectIrScan;
    case TapState::CaptureDr:
    case TapState::Exit2Dr:
        return target != TapState::ShiftDr;
    case TapState::Exit1Dr:
        return target != TapState::PauseDr;
    case TapState::UpdateDr:
    case TapState::UpdateIr:
        return target != TapState::RunTestIdle;
    case TapState::CaptureIr:
    case TapState::Exit2Ir:
        return target != TapState::ShiftIr;
    case TapState::Exit1Ir:
        return target != TapState::PauseIr;
    case TapState::TestLogicReset:
    case TapState::SelectIrScan:
        return false;
    case TapState::RunTestIdle:
    case TapState::ShiftDr:
    case TapState::PauseDr:
    case TapState::ShiftIr:
    case TapState::PauseIr:
        return true;
    }
    return true;
}

void Append(TapPath& path, bool tms) {
    if (tms)
        path.bits |= 1u << path.count;
    ++path.count;
}

} // namespace

int32_t TapPathTo(TapState from, TapState target, TapPath& path) {
    path = TapPath{};
    if (target == TapState::TestLogicReset) {
        path = TapPath{0x3F, 6};
        return 0;
    }
    if (target != from && ((target == TapState::Exit2Dr && from != TapState::PauseDr) ||
                           (target == TapState::Exit2Ir && from != TapState::PauseIr)))
        return kTapIllegalState;

    TapState state = from;
    if (target == from) {
        if (from != TapState::PauseDr && from != TapState::PauseIr)
            return 0;
        Append(path, true); // out to Exit2, then once round the column back into Pause
        state = Next(state, true);
    }
    while (state != target) {
        if (path.count == kMaxTapPathLength) {
            path = TapPath{};
            return kTapIllegalState;
        }
        const bool tms = TmsTowards(state, target);
        Append(path, tms);
        state = Next(state, tms);
    }
    return 0;
}

bool TapStateFromNumber(uint32_t number, TapState& state) {
    if (number >= kTapStateCount)
        return false;
    state = static_cast<TapState>(number);
    return true;
}
