// The GPU's generic I2C engine as its seven registers show it: a small byte buffer with an index, one
// transaction per go (start, bytes from or into the buffer, stop), done and error status, soft reset, an
// enable bit, a pin selection that connects it to the card's FPGA bus (clock pin 0x29, data pin 0x28), and
// a bus clock of 13500 kHz / prescale. The transaction runs at once when go is written, so the status read
// that follows sees it finished. docs/SIMULATOR.md describes every field.
//
// No lock, no allocation, no file access per register access: the engine is used by its card's one thread
// at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/I2cBus.h"
#include "sim/Misuse.h"
#include "sim/Trace.h"

namespace sim {

namespace i2c {

// Register offsets in the card's register window.
constexpr uint32_t kControl = 0x60D0;
constexpr uint32_t kStatus = 0x60D8;
constexpr uint32_t kSpeed = 0x60DC;
constexpr uint32_t kSetup = 0x60E0;
constexpr uint32_t kTransaction = 0x60E4;
constexpr uint32_t kData = 0x60E8;
constexpr uint32_t kPinSelection = 0x60EC;

// CONTROL. Bits other than these are kept as written and do nothing.
constexpr uint32_t kControlGo = 1u << 0;        // write 1: run TRANSACTION; reads 1 while it runs
constexpr uint32_t kControlSoftReset = 1u << 1; // while 1: the engine is held in reset
constexpr uint32_t kControlEnable = 1u << 3;

// STATUS (read only).
constexpr uint32_t kStatusBusy = 1u << 0;          // a transaction was started and has not finished
constexpr uint32_t kStatusDone = 1u << 4;          // the last transaction finished, however it ended
constexpr uint32_t kStatusStoppedOnNack = 1u << 5; // ... ended early by a not-acknowledged byte
constexpr uint32_t kStatusTimeout = 1u << 6;       // ... ended by the time limit
constexpr uint32_t kStatusNack = 1u << 7;          // ... a byte the engine sent was not acknowledged

// SPEED: bits 1..0 and 4 are kept and do nothing (input filtering on real parts).
constexpr uint32_t kSpeedPrescaleShift = 16; // bits 31..16
constexpr uint32_t kReferenceKhz = 13500;

// SETUP.
constexpr uint32_t kSetupTimeLimitShift = 24; // bits 31..24: 0 waits for ever on a held clock

// TRANSACTION.
constexpr uint32_t kTransactionRead = 1u << 0;
constexpr uint32_t kTransactionStopOnNack = 1u << 8;
constexpr uint32_t kTransactionAck = 1u << 9; // the engine acknowledges the last byte it reads
constexpr uint32_t kTransactionStart = 1u << 12;
constexpr uint32_t kTransactionStop = 1u << 13;
constexpr uint32_t kTransactionCountShift = 16; // bits 19..16: bytes on the bus - 1, address byte included

// DATA.
constexpr uint32_t kDataRead = 1u << 0;  // 0: a write stores a byte; 1: reads fetch bytes
constexpr uint32_t kDataByteShift = 8;   // bits 15..8
constexpr uint32_t kDataIndexShift = 16; // bits 19..16
constexpr uint32_t kDataIndexWrite = 1u << 31;

// PIN_SELECTION: bits 6..0 the clock pin, bits 14..8 the data pin; 0x7F is no pin.
constexpr uint32_t kClockPin = 0x29;
constexpr uint32_t kDataPin = 0x28;
constexpr uint32_t kNoPin = 0x7F;

constexpr size_t kBufferSize = 16;

} // namespace i2c

// Fault switches of an engine.
struct I2cEngineSettings {
    bool neverDone = false; // a started transaction never finishes (busy until soft reset or disable)
};

enum class I2cEngineMisuse {
    GoInReset,         // go while soft reset is held
    GoDisabled,        // go while the enable bit is clear
    GoPinsNotSelected, // go while the pins are not 0x29 / 0x28
    GoNoClock,         // go with a prescale of 0
    GoWhileBusy,       // go while a transaction runs
    NoStart,           // a transaction without start while the engine does not hold the bus
    StatusWrite,       // a write to the read-only STATUS
};
constexpr size_t kI2cEngineMisuseKinds = 7;
const char* I2cEngineMisuseName(I2cEngineMisuse kind);
using I2cEngineRecord = MisuseRecord<I2cEngineMisuse, kI2cEngineMisuseKinds>;

struct I2cEngineCounters {
    uint64_t gos = 0;      // transactions started
    uint64_t refused = 0;  // go writes that started nothing
    uint64_t timeouts = 0; // transactions ended by the time limit
    uint64_t stoppedOnNack = 0;
};

class I2cEngine {
public:
    explicit I2cEngine(I2cBus& bus, const I2cEngineSettings& settings = {});
    I2cEngine(const I2cEngine&) = delete;
    I2cEngine& operator=(const I2cEngine&) = delete;

    // Whether `offset` is one of the seven registers.
    static bool Handles(uint32_t offset);
    // A 32-bit register access. A read of DATA in read mode moves the index on.
    uint32_t Read(uint32_t offset);
    void Write(uint32_t offset, uint32_t value);

    void SetTrace(Trace* trace) { trace_ = trace; }

    // The bus clock the prescale now in SPEED gives (13500 kHz / prescale; 0 for a prescale of 0), and
    // the clock of the last transaction started.
    uint32_t SpeedHz() const;
    uint32_t LastSpeedHz() const { return lastSpeedHz_; }
    uint32_t TimeLimit() const { return setup_ >> i2c::kSetupTimeLimitShift; }
    bool PinsSelected() const;
    bool Enabled() const { return (control_ & i2c::kControlEnable) != 0; }

    const I2cEngineCounters& Counters() const { return counters_; }
    const I2cEngineRecord& Record() const { return record_; }

private:
    void NoteMisuse(I2cEngineMisuse kind);
    void Reset();
    void ReleaseBus();
    void Go();
    void Run();
    bool SendByte(uint8_t byte);

    I2cBus& bus_;
    const I2cEngineSettings settings_;
    Trace* trace_ = nullptr;

    uint32_t control_ = 0, speed_ = 0, setup_ = 0, transaction_ = 0, pins_ = 0;
    uint32_t status_ = 0; // without the busy bit, which `busy_` holds
    bool busy_ = false;
    bool holding_ = false; // the engine started a transfer on the bus and has not stopped it
    bool readMode_ = false;
    uint32_t index_ = 0;
    std::array<uint8_t, i2c::kBufferSize> buffer_{};
    uint32_t lastSpeedHz_ = 0;
    I2cEngineCounters counters_;
    I2cEngineRecord record_;
};

} // namespace sim
