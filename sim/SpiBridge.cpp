#include "sim/SpiBridge.h"

namespace sim {

using namespace bridge;

const char* SpiBridgeMisuseName(SpiBridgeMisuse kind) {
    switch (kind) {
    case SpiBridgeMisuse::DataWithoutFrame:
        return "data-without-frame";
    case SpiBridgeMisuse::PageBufferFull:
        return "page-buffer-full";
    case SpiBridgeMisuse::PageDiscarded:
        return "page-discarded";
    case SpiBridgeMisuse::FrameCutOff:
        return "frame-cut-off";
    case SpiBridgeMisuse::DataInWrite:
        return "data-in-write";
    }
    return "?";
}

void SpiBridge::NoteMisuse(SpiBridgeMisuse kind, uint8_t value) {
    const char* text = record_.Note(kind, SpiBridgeMisuseName(kind), "value 0x%02X", value);
    if (trace_ && trace_->On())
        trace_->Line("spi-bridge misuse %s", text);
}

uint8_t SpiBridge::Read(uint32_t subAddress) const {
    switch (subAddress) {
    case kFrameControl:
        return uint8_t((open_ ? kSelect : 0) | (receive_ ? kReceive : 0) | (last_ ? kLast : 0));
    case kDataOut:
        return dataOut_;
    case kDataIn:
        return dataIn_;
    case kPageMode:
        return uint8_t((pageMode_ ? kPageModeOn : 0) | (pageLength_ != 0 ? kPageSend : 0));
    default:
        return 0;
    }
}

void SpiBridge::EndFrame() {
    if (open_)
        device_.Deselect();
    open_ = receive_ = last_ = false;
}

void SpiBridge::Clock(uint8_t value) {
    ++counters_.bytesOut;
    const uint8_t in = device_.Transfer(value);
    if (receive_)
        dataIn_ = in;
    if (last_)
        EndFrame();
}

void SpiBridge::Write(uint32_t subAddress, uint8_t value) {
    switch (subAddress) {
    case kFrameControl:
        if (!(value & kSelect)) {
            EndFrame();
            break;
        }
        if (!open_) {
            device_.Select();
            open_ = true;
            ++counters_.frames;
        }
        receive_ = (value & kReceive) != 0;
        last_ = (value & kLast) != 0;
        break;
    case kDataOut:
        dataOut_ = value;
        if (open_)
            Clock(value);
        else if (!pageMode_)
            NoteMisuse(SpiBridgeMisuse::DataWithoutFrame, value);
        else if (pageLength_ == page_.size())
            NoteMisuse(SpiBridgeMisuse::PageBufferFull, value);
        else
            page_[pageLength_++] = value;
        break;
    case kDataIn:
        NoteMisuse(SpiBridgeMisuse::DataInWrite, value);
        break;
    case kPageMode:
        if (!(value & kPageModeOn)) {
            if (pageLength_ != 0)
                NoteMisuse(SpiBridgeMisuse::PageDiscarded, value);
            pageLength_ = 0;
            pageMode_ = false;
            break;
        }
        pageMode_ = true;
        if ((value & kPageSend) && pageLength_ != 0) {
            if (open_) {
                NoteMisuse(SpiBridgeMisuse::FrameCutOff, value);
                EndFrame();
            }
            device_.Select();
            for (size_t i = 0; i < pageLength_; ++i)
                device_.Transfer(page_[i]);
            device_.Deselect();
            counters_.bytesOut += pageLength_;
            ++counters_.pageFrames;
            pageLength_ = 0;
        }
        break;
    default:
        break;
    }
}

} // namespace sim
