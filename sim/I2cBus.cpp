#include "sim/I2cBus.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// Bytes of one transaction written out in its trace line; the rest are counted.
constexpr uint32_t kTraceBytesShown = 24;

} // namespace

const char* I2cBusMisuseName(I2cBusMisuse kind) {
    switch (kind) {
    case I2cBusMisuse::NoStart:
        return "no-start";
    case I2cBusMisuse::NoAddress:
        return "no-address";
    case I2cBusMisuse::WrongDirection:
        return "wrong-direction";
    case I2cBusMisuse::NoSlave:
        return "no-slave";
    case I2cBusMisuse::AfterMasterNack:
        return "after-master-nack";
    }
    return "?";
}

void I2cBus::Clocks(uint32_t count) {
    counters_.clocks += count;
    if (speedHz_ != 0)
        counters_.seconds += double(count) / double(speedHz_);
}

void I2cBus::NoteMisuse(I2cBusMisuse kind, const char* detail) {
    const char* text = record_.Note(kind, I2cBusMisuseName(kind), "%s", detail);
    if (trace_ && trace_->On())
        trace_->Line("i2c misuse %s", text);
}

void I2cBus::Start() {
    if (settings_.clockHeld)
        return;
    Clocks(1);
    if (state_ == State::Idle) {
        ++counters_.transactions;
        if (trace_ && trace_->On()) {
            lineLength_ = 0;
            lineBytes_ = 0;
            char head[24];
            std::snprintf(head, sizeof head, "i2c %ukHz S", speedHz_ / 1000);
            TraceText(head);
        }
    } else {
        ++counters_.repeatedStarts;
        TraceText(" Sr");
    }
    state_ = State::Address;
    masterNacked_ = false;
}

bool I2cBus::Write(uint8_t byte) {
    if (settings_.clockHeld)
        return false;
    Clocks(9);
    ++counters_.bytesWritten;
    bool ack = false;
    switch (state_) {
    case State::Idle:
        NoteMisuse(I2cBusMisuse::NoStart, "write");
        break;
    case State::Address: {
        I2cSlave* next = slaves_[byte >> 1];
        if (current_ && current_ != next)
            current_->Stop(); // a repeated start to someone else ends the old slave's transfer
        current_ = next;
        ack = next && next->Start((byte & 1) != 0);
        if (!ack)
            current_ = nullptr;
        state_ = !ack ? State::Unanswered : (byte & 1) ? State::Read : State::Write;
        break;
    }
    case State::Write:
        ack = current_->Send(byte);
        break;
    case State::Read:
        NoteMisuse(I2cBusMisuse::WrongDirection, "write during a read");
        break;
    case State::Unanswered:
        NoteMisuse(I2cBusMisuse::NoSlave, "write");
        break;
    }
    if (!ack)
        ++counters_.nacks;
    if (trace_ && trace_->On() && state_ != State::Idle)
        TraceByte(byte, ack);
    return ack;
}

uint8_t I2cBus::Read(bool ack) {
    if (settings_.clockHeld)
        return 0xFF;
    Clocks(9);
    ++counters_.bytesRead;
    uint8_t byte = 0xFF; // a released data line reads high
    switch (state_) {
    case State::Idle:
        NoteMisuse(I2cBusMisuse::NoStart, "read");
        break;
    case State::Address:
        NoteMisuse(I2cBusMisuse::NoAddress, "read");
        break;
    case State::Write:
        NoteMisuse(I2cBusMisuse::WrongDirection, "read during a write");
        break;
    case State::Unanswered:
        NoteMisuse(I2cBusMisuse::NoSlave, "read");
        break;
    case State::Read:
        if (masterNacked_) {
            NoteMisuse(I2cBusMisuse::AfterMasterNack, "read");
            break;
        }
        byte = current_->Recv();
        if (settings_.misreadFromKhz != 0 && speedHz_ >= uint64_t{settings_.misreadFromKhz} * 1000) {
            const uint32_t period = settings_.misreadPeriod == 0 ? 1 : settings_.misreadPeriod;
            if (++misreadCount_ % period == 0) {
                byte ^= uint8_t(1u << ((misreadCount_ / period) % 8));
                ++counters_.misreads;
            }
        }
        masterNacked_ = !ack;
        break;
    }
    if (trace_ && trace_->On() && state_ != State::Idle)
        TraceByte(byte, ack);
    return byte;
}

void I2cBus::Stop() {
    if (settings_.clockHeld)
        return;
    Clocks(1);
    ++counters_.stops;
    if (current_)
        current_->Stop();
    current_ = nullptr;
    if (state_ != State::Idle)
        TraceEnd();
    state_ = State::Idle;
    masterNacked_ = false;
}

bool I2cBus::WriteTransfer(uint8_t address, const uint8_t* data, size_t size) {
    Start();
    bool ok = Write(uint8_t(address & 0xFE));
    for (size_t i = 0; ok && i < size; ++i)
        ok = Write(data[i]);
    Stop();
    return ok;
}

bool I2cBus::ReadTransfer(uint8_t address, uint8_t* data, size_t size) {
    Start();
    const bool ok = Write(uint8_t(address | 1));
    for (size_t i = 0; ok && i < size; ++i)
        data[i] = Read(i + 1 < size);
    Stop();
    return ok;
}

void I2cBus::TraceText(const char* text) {
    if (!trace_ || !trace_->On())
        return;
    const size_t length = std::strlen(text);
    if (lineLength_ + length < sizeof line_) {
        std::memcpy(line_ + lineLength_, text, length);
        lineLength_ += length;
    }
}

void I2cBus::TraceByte(uint8_t byte, bool ack) {
    if (lineBytes_++ >= kTraceBytesShown)
        return;
    char text[8];
    std::snprintf(text, sizeof text, " %02X%c", byte, ack ? '+' : '-');
    TraceText(text);
}

void I2cBus::TraceEnd() {
    if (!trace_ || !trace_->On())
        return;
    if (lineBytes_ > kTraceBytesShown) {
        char text[24];
        std::snprintf(text, sizeof text, " (+%u bytes)", lineBytes_ - kTraceBytesShown);
        TraceText(text);
    }
    TraceText(" P");
    trace_->Line("%.*s", int(lineLength_), line_);
    lineLength_ = 0;
    lineBytes_ = 0;
}

} // namespace sim
