#include "sim/Card.h"

#include <cstring>

namespace sim {

namespace {

constexpr size_t kFirstMisuseKept = 16;

bool IsGpio(uint32_t offset) {
    return offset >= kCardGpioMask && offset <= kCardGpioInput && (offset & 3) == 0;
}

} // namespace

const char* CardMisuseName(CardMisuse kind) {
    switch (kind) {
    case CardMisuse::TckNotDriven:
        return "tck-not-driven";
    case CardMisuse::TmsNotDriven:
        return "tms-not-driven";
    case CardMisuse::TdiNotDriven:
        return "tdi-not-driven";
    case CardMisuse::TdiDisagree:
        return "tdi-disagree";
    case CardMisuse::DecodingOff:
        return "decoding-off";
    case CardMisuse::BadAccess:
        return "bad-access";
    }
    return "?";
}

Card::Card(std::unique_ptr<JtagDevice> device, std::string location, const CardI2cSettings& i2c)
    : device_(std::move(device)), tap_(device_.get()), location_(std::move(location)),
      memory_(kCardWindowSize, 0), i2c_(std::make_unique<CardI2c>(i2c)) {
    i2c_->SetTrace(&trace_);
}

void Card::NoteMisuse(CardMisuse kind, uint32_t offset, uint32_t value) {
    ++record_.misuse[static_cast<size_t>(kind)];
    char text[96];
    std::snprintf(text, sizeof text, "%s at 0x%04X value 0x%08X", CardMisuseName(kind), offset, value);
    if (record_.firstMisuse.size() < kFirstMisuseKept)
        record_.firstMisuse.push_back(text);
    trace_.Line("misuse %s", text);
}

bool Card::ValidAccess(uint32_t offset, bool decoding, uint32_t value) {
    if (offset > kCardWindowSize - 4) {
        NoteMisuse(CardMisuse::BadAccess, offset, value);
        return false;
    }
    if (!decoding) {
        NoteMisuse(CardMisuse::DecodingOff, offset, value);
        return false;
    }
    return true;
}

// The one place where offsets find their model.
uint32_t Card::Read(uint32_t offset, bool decoding) {
    uint32_t value = 0xFFFFFFFFu;
    if (ValidAccess(offset, decoding, 0)) {
        if (IsGpio(offset))
            value = ReadGpio(offset);
        else if (CardI2c::Handles(offset))
            value = i2c_->Read(offset);
        else
            std::memcpy(&value, &memory_[offset], 4);
    }
    if (trace_.On())
        trace_.Line("read 0x%04X 0x%08X", offset, value);
    return value;
}

void Card::Write(uint32_t offset, uint32_t value, bool decoding) {
    if (trace_.On())
        trace_.Line("write 0x%04X 0x%08X", offset, value);
    if (!ValidAccess(offset, decoding, value))
        return;
    if (IsGpio(offset))
        WriteGpio(offset, value);
    else if (CardI2c::Handles(offset))
        i2c_->Write(offset, value);
    else
        std::memcpy(&memory_[offset], &value, 4);
}

uint32_t Card::ReadGpio(uint32_t offset) const {
    switch (offset) {
    case kCardGpioMask:
        return mask_;
    case kCardGpioOutput:
        return output_;
    case kCardGpioOutputEnable:
        return outputEnable_;
    default: // the input register: TDO on bit 0, inputs 1 and 2 pulled high, nothing else wired
        return (tap_.Tdo() ? kCardLineTdo : 0) | 0x6;
    }
}

void Card::WriteGpio(uint32_t offset, uint32_t value) {
    const uint32_t oldOutput = output_;
    switch (offset) {
    case kCardGpioMask:
        mask_ = value;
        break;
    case kCardGpioOutput:
        output_ = value;
        break;
    case kCardGpioOutputEnable:
        outputEnable_ = value;
        break;
    default:
        return; // the input register ignores writes
    }
    LinesChanged(oldOutput);
}

// A line is driven only while both its mask and its output-enable bits are set; otherwise it floats.
void Card::LinesChanged(uint32_t oldOutput) {
    const uint32_t driven = mask_ & outputEnable_;
    if (driven & kCardLineTck) {
        const bool level = (output_ & kCardLineTck) != 0;
        if (level && !tckLevel_)
            ClockTap(driven);
        tckLevel_ = level;
    } else if ((output_ & kCardLineTck) && !(oldOutput & kCardLineTck)) {
        NoteMisuse(CardMisuse::TckNotDriven, kCardGpioOutput, output_);
    }

    const uint32_t levels = driven & output_ & (kCardLineDone | kCardLineClaim);
    const uint32_t rising = levels & ~lineLevels_;
    if (levels != lineLevels_ && trace_.On())
        trace_.Line("line6 %u line30 %u", (levels & kCardLineDone) ? 1u : 0u,
                    (levels & kCardLineClaim) ? 1u : 0u);
    lineLevels_ = levels;
    record_.claimLevel = (levels & kCardLineClaim) != 0;
    if (rising & kCardLineClaim)
        ++record_.claimRises;
    if (rising & kCardLineDone) {
        ++record_.donePulses;
        if (device_)
            device_->DonePulse();
    }
}

void Card::ClockTap(uint32_t driven) {
    bool tms = true;
    if (driven & kCardLineTms)
        tms = (output_ & kCardLineTms) != 0;
    else
        NoteMisuse(CardMisuse::TmsNotDriven, kCardGpioOutput, output_);
    if ((driven & kCardLinesTdi) != kCardLinesTdi)
        NoteMisuse(CardMisuse::TdiNotDriven, kCardGpioOutput, output_);
    const uint32_t tdiLines = output_ & driven & kCardLinesTdi;
    if (tdiLines != 0 && tdiLines != (driven & kCardLinesTdi))
        NoteMisuse(CardMisuse::TdiDisagree, kCardGpioOutput, output_);
    const bool tdi = (driven & kCardLineTdi) ? (output_ & kCardLineTdi) != 0 : true;
    if (trace_.On())
        trace_.Line("tck tms=%d tdi=%d tdo=%d %s", tms ? 1 : 0, tdi ? 1 : 0, tap_.Tdo() ? 1 : 0,
                    TapStateName(tap_.State()));
    ++record_.tckEdges;
    tap_.RisingEdge(tms, tdi);
}

} // namespace sim
