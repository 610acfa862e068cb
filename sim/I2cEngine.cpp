#include "sim/I2cEngine.h"

namespace sim {

using namespace i2c;

namespace {

constexpr uint32_t kPinMask = 0x7F;
constexpr uint32_t kDataPinShift = 8;
constexpr uint32_t kCountMask = 0xF;
constexpr uint32_t kIndexMask = kBufferSize - 1;
constexpr uint32_t kNoPins = kNoPin | kNoPin << kDataPinShift; // at power-up

} // namespace

const char* I2cEngineMisuseName(I2cEngineMisuse kind) {
    switch (kind) {
    case I2cEngineMisuse::GoInReset:
        return "go-in-reset";
    case I2cEngineMisuse::GoDisabled:
        return "go-disabled";
    case I2cEngineMisuse::GoPinsNotSelected:
        return "go-pins-not-selected";
    case I2cEngineMisuse::GoNoClock:
        return "go-no-clock";
    case I2cEngineMisuse::GoWhileBusy:
        return "go-while-busy";
    case I2cEngineMisuse::NoStart:
        return "no-start";
    case I2cEngineMisuse::StatusWrite:
        return "status-write";
    }
    return "?";
}

I2cEngine::I2cEngine(I2cBus& bus, const I2cEngineSettings& settings)
    : bus_(bus), settings_(settings), pins_(kNoPins) {}

bool I2cEngine::Handles(uint32_t offset) {
    switch (offset) {
    case kControl:
    case kStatus:
    case kSpeed:
    case kSetup:
    case kTransaction:
    case kData:
    case kPinSelection:
        return true;
    default:
        return false;
    }
}

uint32_t I2cEngine::SpeedHz() const {
    const uint32_t prescale = speed_ >> kSpeedPrescaleShift;
    return prescale == 0 ? 0 : kReferenceKhz * 1000 / prescale;
}

bool I2cEngine::PinsSelected() const {
    return (pins_ & kPinMask) == kClockPin && ((pins_ >> kDataPinShift) & kPinMask) == kDataPin;
}

void I2cEngine::NoteMisuse(I2cEngineMisuse kind) {
    const char* text = record_.Note(kind, I2cEngineMisuseName(kind), "control 0x%08X transaction 0x%08X",
                                    control_, transaction_);
    if (trace_ && trace_->On())
        trace_->Line("i2c-engine misuse %s", text);
}

uint32_t I2cEngine::Read(uint32_t offset) {
    switch (offset) {
    case kControl:
        return control_ | (busy_ ? kControlGo : 0);
    case kStatus:
        return status_ | (busy_ ? kStatusBusy : 0);
    case kSpeed:
        return speed_;
    case kSetup:
        return setup_;
    case kTransaction:
        return transaction_;
    case kData: {
        const uint32_t value = uint32_t(buffer_[index_]) << kDataByteShift | index_ << kDataIndexShift |
                               (readMode_ ? kDataRead : 0);
        if (readMode_)
            index_ = (index_ + 1) & kIndexMask;
        return value;
    }
    case kPinSelection:
        return pins_;
    default:
        return 0;
    }
}

void I2cEngine::Write(uint32_t offset, uint32_t value) {
    switch (offset) {
    case kControl: {
        const bool wasEnabled = Enabled();
        control_ = value & ~kControlGo;
        if (value & kControlSoftReset)
            Reset();
        else if (wasEnabled && !Enabled())
            Reset(); // disabling stops the engine the same way
        if (value & kControlGo)
            Go();
        break;
    }
    case kStatus:
        NoteMisuse(I2cEngineMisuse::StatusWrite);
        break;
    case kSpeed:
        speed_ = value;
        break;
    case kSetup:
        setup_ = value;
        break;
    case kTransaction:
        transaction_ = value;
        break;
    case kData:
        if (value & kDataIndexWrite)
            index_ = (value >> kDataIndexShift) & kIndexMask;
        readMode_ = (value & kDataRead) != 0;
        if (!readMode_) {
            buffer_[index_] = uint8_t(value >> kDataByteShift);
            index_ = (index_ + 1) & kIndexMask;
        }
        break;
    case kPinSelection:
        pins_ = value;
        if (!PinsSelected())
            ReleaseBus();
        break;
    default:
        break;
    }
}

// The lines are let go: a transfer the engine held open ends with a stop on the bus.
void I2cEngine::ReleaseBus() {
    if (holding_)
        bus_.Stop();
    holding_ = false;
}

void I2cEngine::Reset() {
    ReleaseBus();
    busy_ = false;
    status_ = 0;
    index_ = 0;
    readMode_ = false;
    buffer_.fill(0);
}

void I2cEngine::Go() {
    if (busy_) {
        NoteMisuse(I2cEngineMisuse::GoWhileBusy);
        ++counters_.refused;
        return;
    }
    status_ = 0; // a go clears the last transaction's status, whether it starts a new one or not
    I2cEngineMisuse refusal;
    if (control_ & kControlSoftReset)
        refusal = I2cEngineMisuse::GoInReset;
    else if (!Enabled())
        refusal = I2cEngineMisuse::GoDisabled;
    else if (!PinsSelected())
        refusal = I2cEngineMisuse::GoPinsNotSelected;
    else if (SpeedHz() == 0)
        refusal = I2cEngineMisuse::GoNoClock;
    else {
        ++counters_.gos;
        lastSpeedHz_ = SpeedHz();
        bus_.SetSpeedHz(lastSpeedHz_);
        if (settings_.neverDone)
            busy_ = true;
        else
            Run();
        return;
    }
    NoteMisuse(refusal);
    ++counters_.refused;
}

// One transaction: count + 1 bytes on the bus; byte k is sent from or received into buffer[k]. After a
// start the first byte is the address, which the engine sends whatever the direction.
void I2cEngine::Run() {
    if (bus_.ClockHeld()) {
        if (TimeLimit() == 0) {
            busy_ = true; // waits for a clock that never comes
            return;
        }
        ++counters_.timeouts;
        status_ = kStatusDone | kStatusTimeout;
        return;
    }
    const uint32_t tx = transaction_;
    const uint32_t count = ((tx >> kTransactionCountShift) & kCountMask) + 1;
    const bool read = (tx & kTransactionRead) != 0;
    uint32_t k = 0;
    if (tx & kTransactionStart) {
        bus_.Start();
        holding_ = true;
        if (read) {
            if (!SendByte(buffer_[0]))
                return;
            k = 1;
        }
    } else if (!holding_) {
        NoteMisuse(I2cEngineMisuse::NoStart);
    }
    for (; k < count; ++k) {
        if (!read) {
            if (!SendByte(buffer_[k]))
                return;
        } else {
            // Every byte but the last of the transaction is acknowledged; the last as the ack bit says.
            buffer_[k] = bus_.Read(k + 1 < count || (tx & kTransactionAck) != 0);
        }
    }
    if (tx & kTransactionStop) {
        bus_.Stop();
        holding_ = false;
    }
    status_ |= kStatusDone;
}

bool I2cEngine::SendByte(uint8_t byte) {
    if (bus_.Write(byte))
        return true;
    status_ |= kStatusNack;
    if (!(transaction_ & kTransactionStopOnNack))
        return true;
    bus_.Stop();
    holding_ = false;
    ++counters_.stoppedOnNack;
    status_ |= kStatusStoppedOnNack | kStatusDone;
    return false;
}

} // namespace sim
