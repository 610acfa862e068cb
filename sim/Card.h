// One simulated Q740 card behind its PCI function: the 64 KB register window, its GPIO register group
// wired to the FPGA's JTAG TAP, its GPU I2C engine on the bus of the FPGA's slaves (sim/CardI2c.h), and what
// the program did wrong on the lines (kept for tests, never fatal). Used by one thread at a time (see
// sim/PciBus.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/CardI2c.h"
#include "sim/JtagDevice.h"
#include "sim/Tap.h"
#include "sim/Trace.h"

namespace sim {

// GPIO register group in the register window. The program has these numbers in
// ExternalDeviceLayer/RegisterLayout.h; the model keeps its own copy on purpose, written from the card's
// description, so that a wrong number on one side shows as a failing test instead of hiding.
constexpr uint32_t kCardGpioMask = 0x1798;
constexpr uint32_t kCardGpioOutput = 0x179C;
constexpr uint32_t kCardGpioOutputEnable = 0x17A0;
constexpr uint32_t kCardGpioInput = 0x17A4;
constexpr uint32_t kCardWindowSize = 0x10000;

// Line bits in all four GPIO registers.
constexpr uint32_t kCardLineTdo = 1u << 0;
constexpr uint32_t kCardLineTms = 1u << 5;
constexpr uint32_t kCardLineDone = 1u << 6;
constexpr uint32_t kCardLinesTdi = 7u << 11;
constexpr uint32_t kCardLineTdi = 1u << 11; // the one that counts when the three disagree
constexpr uint32_t kCardLineTck = 1u << 29;
constexpr uint32_t kCardLineClaim = 1u << 30;

enum class CardMisuse {
    TckNotDriven, // TCK raised in the output register while not under GPIO control (the edge is ignored)
    TmsNotDriven, // a TCK edge while TMS floats (read as 1, its pull-up)
    TdiNotDriven, // a TCK edge while a TDI line floats (a floating bit 11 reads as 1)
    TdiDisagree,  // a TCK edge while bits 11..13 differ (bit 11 counts)
    DecodingOff,  // a register access while memory space decoding is off (reads all ones, writes lost)
    BadAccess,    // a register access outside the window or not 4 bytes long
};
constexpr int kCardMisuseKinds = 6;
const char* CardMisuseName(CardMisuse kind);

// What a card saw, for tests and for q740sim.
struct CardRecord {
    std::array<uint64_t, kCardMisuseKinds> misuse{};
    std::vector<std::string> firstMisuse; // the first few, as text
    uint64_t tckEdges = 0;
    uint32_t donePulses = 0; // rising edges of line 6 while under GPIO control
    uint32_t claimRises = 0; // rising edges of line 30 while under GPIO control
    bool claimLevel = false; // line 30 driven high now
    uint64_t Misuse(CardMisuse kind) const { return misuse[static_cast<size_t>(kind)]; }
};

class Card {
public:
    // `device` stands behind the TAP (null: a TAP with nothing behind it); `i2c` describes the I2C side.
    Card(std::unique_ptr<JtagDevice> device, std::string location, const CardI2cSettings& i2c = {});

    // One 32-bit register access at `offset` in the window. Everything but the GPIO group and the I2C
    // engine's registers is plain memory (reads give what was last written, 0 at first). `decoding` is the
    // function's memory-space bit.
    uint32_t Read(uint32_t offset, bool decoding);
    void Write(uint32_t offset, uint32_t value, bool decoding);

    Trace& GetTrace() { return trace_; }
    CardI2c& I2c() { return *i2c_; }
    const CardRecord& Record() const { return record_; }
    TapState State() const { return tap_.State(); }
    const std::string& Location() const { return location_; }
    void NoteMisuse(CardMisuse kind, uint32_t offset, uint32_t value);

private:
    bool ValidAccess(uint32_t offset, bool decoding, uint32_t value);
    uint32_t ReadGpio(uint32_t offset) const;
    void WriteGpio(uint32_t offset, uint32_t value);
    void LinesChanged(uint32_t oldOutput);
    void ClockTap(uint32_t driven);

    std::unique_ptr<JtagDevice> device_;
    TapController tap_;
    std::string location_;
    std::vector<uint8_t> memory_;
    uint32_t mask_ = 0, output_ = 0, outputEnable_ = 0;
    bool tckLevel_ = false;   // the level TCK had at the last change while driven
    uint32_t lineLevels_ = 0; // effective levels of lines 6 and 30 (driven high)
    CardRecord record_;
    Trace trace_;
    std::unique_ptr<CardI2c> i2c_;
};

} // namespace sim
