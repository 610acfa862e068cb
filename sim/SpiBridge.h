// The I2C-to-SPI bridge behind each of the FPGA's slaves: four byte registers that turn I2C writes into SPI
// frames on the slave's flash.
//
//   0x34 frame control  bit 0 select: 1 opens a frame (chip select low) unless one is open; 0 ends it
//                       bit 4 receive: each byte clocked out also latches the byte clocked in (data in)
//                       bit 5 last: the frame ends right after the next byte clocked out
//   0x35 data out       in an open frame: clocks the byte out; with no frame open in page mode: appends it
//                       to the page buffer (260 bytes, one page-program frame); otherwise lost
//   0x36 data in        the byte latched by the last byte clocked with receive set (read only)
//   0x37 page mode      bit 0: page mode; 0 ends it and empties the buffer. Bit 1 (with bit 0): send the
//                       buffer as one frame and empty it (nothing when it is empty). Reads: bit 0 page mode,
//                       bit 1 the buffer holds bytes.
//
// So 0x01 starts a command, 0x21 makes the next byte its last, 0x11 / 0x31 read while clocking, 0x20 ends
// whatever is open; a page frame written as a block in page mode reaches the flash in one frame. Reads do
// not clock the SPI bus: a byte in is clocked by writing a byte out. Not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/Misuse.h"
#include "sim/SpiFlash.h"
#include "sim/Trace.h"

namespace sim {

namespace bridge {

constexpr uint16_t kFrameControl = 0x34;
constexpr uint16_t kDataOut = 0x35;
constexpr uint16_t kDataIn = 0x36;
constexpr uint16_t kPageMode = 0x37;

constexpr uint8_t kSelect = 0x01;
constexpr uint8_t kReceive = 0x10;
constexpr uint8_t kLast = 0x20;

constexpr uint8_t kPageModeOn = 0x01;
constexpr uint8_t kPageSend = 0x02;
constexpr size_t kPageBufferSize = 260; // command, three address bytes, 256 data bytes

} // namespace bridge

enum class SpiBridgeMisuse {
    DataWithoutFrame, // data out with no frame open and page mode off: the byte goes nowhere
    PageBufferFull,   // data out beyond the page buffer: the byte is lost
    PageDiscarded,    // page mode ended with bytes in the buffer
    FrameCutOff,      // a page frame sent while a frame was open: that frame ends first
    DataInWrite,      // a write to the read-only data in
};
constexpr size_t kSpiBridgeMisuseKinds = 5;
const char* SpiBridgeMisuseName(SpiBridgeMisuse kind);
using SpiBridgeRecord = MisuseRecord<SpiBridgeMisuse, kSpiBridgeMisuseKinds>;

struct SpiBridgeCounters {
    uint64_t frames = 0;     // frames opened by frame control
    uint64_t pageFrames = 0; // page buffers sent
    uint64_t bytesOut = 0;   // bytes clocked to the device
};

class SpiBridge {
public:
    explicit SpiBridge(SpiDevice& device) : device_(device) {}
    SpiBridge(const SpiBridge&) = delete;
    SpiBridge& operator=(const SpiBridge&) = delete;

    static bool Handles(uint32_t subAddress) {
        return subAddress >= bridge::kFrameControl && subAddress <= bridge::kPageMode;
    }
    uint8_t Read(uint32_t subAddress) const;
    void Write(uint32_t subAddress, uint8_t value);

    void SetTrace(Trace* trace) { trace_ = trace; }
    const SpiBridgeCounters& Counters() const { return counters_; }
    const SpiBridgeRecord& Record() const { return record_; }

private:
    void NoteMisuse(SpiBridgeMisuse kind, uint8_t value);
    void Clock(uint8_t value);
    void EndFrame();

    SpiDevice& device_;
    Trace* trace_ = nullptr;
    bool open_ = false, receive_ = false, last_ = false;
    bool pageMode_ = false;
    uint8_t dataOut_ = 0, dataIn_ = 0;
    size_t pageLength_ = 0;
    std::array<uint8_t, bridge::kPageBufferSize> page_{};
    SpiBridgeCounters counters_;
    SpiBridgeRecord record_;
};

} // namespace sim
