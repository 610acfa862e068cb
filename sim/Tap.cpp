#include "sim/Tap.h"

namespace sim {

TapState NextTapState(TapState state, bool tms) {
    using S = TapState;
    switch (state) {
    case S::TestLogicReset:
        return tms ? S::TestLogicReset : S::RunTestIdle;
    case S::RunTestIdle:
        return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectDrScan:
        return tms ? S::SelectIrScan : S::CaptureDr;
    case S::CaptureDr:
        return tms ? S::Exit1Dr : S::ShiftDr;
    case S::ShiftDr:
        return tms ? S::Exit1Dr : S::ShiftDr;
    case S::Exit1Dr:
        return tms ? S::UpdateDr : S::PauseDr;
    case S::PauseDr:
        return tms ? S::Exit2Dr : S::PauseDr;
    case S::Exit2Dr:
        return tms ? S::UpdateDr : S::ShiftDr;
    case S::UpdateDr:
        return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectIrScan:
        return tms ? S::TestLogicReset : S::CaptureIr;
    case S::CaptureIr:
        return tms ? S::Exit1Ir : S::ShiftIr;
    case S::ShiftIr:
        return tms ? S::Exit1Ir : S::ShiftIr;
    case S::Exit1Ir:
        return tms ? S::UpdateIr : S::PauseIr;
    case S::PauseIr:
        return tms ? S::Exit2Ir : S::PauseIr;
    case S::Exit2Ir:
        return tms ? S::UpdateIr : S::ShiftIr;
    case S::UpdateIr:
        return tms ? S::SelectDrScan : S::RunTestIdle;
    }
    return S::TestLogicReset;
}

const char* TapStateName(TapState state) {
    static const char* const kNames[kTapStateCount] = {
        "Test-Logic-Reset", "Run-Test/Idle", "Select-DR-Scan", "Capture-DR",     "Shift-DR",   "Exit1-DR",
        "Pause-DR",         "Exit2-DR",      "Update-DR",      "Select-IR-Scan", "Capture-IR", "Shift-IR",
        "Exit1-IR",         "Pause-IR",      "Exit2-IR",       "Update-IR"};
    const auto index = static_cast<unsigned>(state);
    return index < kTapStateCount ? kNames[index] : "?";
}

TapController::TapController(JtagDevice* device) : device_(device) {
    if (device_)
        device_->Reset();
}

bool TapController::Tdo() const {
    if (state_ != TapState::ShiftDr && state_ != TapState::ShiftIr)
        return true;
    return device_ ? device_->Tdo() : true;
}

void TapController::RisingEdge(bool tms, bool tdi) {
    ++edges_;
    const TapState next = NextTapState(state_, tms);
    if (device_) {
        switch (state_) {
        case TapState::CaptureDr:
            device_->CaptureDr();
            break;
        case TapState::ShiftDr:
            device_->ShiftDr(tdi);
            break;
        case TapState::CaptureIr:
            device_->CaptureIr();
            break;
        case TapState::ShiftIr:
            device_->ShiftIr(tdi);
            break;
        case TapState::RunTestIdle:
            device_->RunTestClock();
            break;
        default:
            break;
        }
        if (next == TapState::UpdateDr)
            device_->UpdateDr();
        else if (next == TapState::UpdateIr)
            device_->UpdateIr();
        else if (next == TapState::TestLogicReset && state_ != TapState::TestLogicReset)
            device_->Reset();
    }
    state_ = next;
}

} // namespace sim
