// One card's I2C bus: a master (the GPU's I2C engine, or the display driver) drives start, repeated start,
// stop and bytes; slaves answer through four hooks. Addresses are 8-bit (bit 0 is the read bit); a byte is
// nine clocks (eight data bits and the acknowledge), start, repeated start and stop one clock each. An
// address no slave takes is not acknowledged. The bus counts what it carried, for the benchmarks, and
// carries two faults. Not thread-safe: one thread at a time drives one card's bus.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/Misuse.h"
#include "sim/Trace.h"

namespace sim {

// A slave as the bus addresses it.
class I2cSlave {
public:
    virtual ~I2cSlave() = default;
    // The slave's address came after a start or a repeated start; `read` is the address's bit 0. True
    // acknowledges the address.
    virtual bool Start(bool read) = 0;
    // A byte from the master in a write transfer; true acknowledges it.
    virtual bool Send(uint8_t byte) = 0;
    // The next byte for the master in a read transfer.
    virtual uint8_t Recv() = 0;
    // The slave's transfer is over: a stop, or a repeated start that addressed another slave.
    virtual void Stop() = 0;
};

// Fault switches of a bus.
struct I2cBusSettings {
    // Reads at or above this speed come back wrong now and then (0: never). The speed is the one the
    // master really clocks: the GPU engine makes 794 kHz of a prescale of 17 and 587 kHz of 23, so 700
    // hits an engine set for 800 and spares one set for 600.
    uint32_t misreadFromKhz = 0;
    // Every misreadPeriod-th byte read at such a speed has one bit flipped (the bit moves on each time),
    // so single reads are mostly right but 512 reads compared with the first never all agree.
    uint32_t misreadPeriod = 100;
    // A device holds the clock low: no transfer can move (the engine's time limit then ends it).
    bool clockHeld = false;
};

// What the bus carried, from its creation on.
struct I2cBusCounters {
    uint64_t clocks = 0;       // 9 per byte, 1 per start, repeated start and stop
    uint64_t transactions = 0; // starts on an idle bus
    uint64_t repeatedStarts = 0;
    uint64_t stops = 0;
    uint64_t bytesWritten = 0; // by the master, address bytes included
    uint64_t bytesRead = 0;
    uint64_t nacks = 0;    // bytes the master wrote that nobody acknowledged
    uint64_t misreads = 0; // bytes the misread fault changed
    double seconds = 0;    // bus time: each clock at the speed it ran at
};

enum class I2cBusMisuse {
    NoStart,         // a byte on an idle bus
    NoAddress,       // a read where the address byte belongs
    WrongDirection,  // a write during a read transfer, or a read during a write transfer
    NoSlave,         // a byte of a transfer whose address nobody acknowledged
    AfterMasterNack, // a read after the master's not-acknowledge ended the slave's sending
};
constexpr size_t kI2cBusMisuseKinds = 5;
const char* I2cBusMisuseName(I2cBusMisuse kind);
using I2cBusRecord = MisuseRecord<I2cBusMisuse, kI2cBusMisuseKinds>;

class I2cBus {
public:
    explicit I2cBus(const I2cBusSettings& settings = {}) : settings_(settings) {}
    I2cBus(const I2cBus&) = delete;
    I2cBus& operator=(const I2cBus&) = delete;

    // The slave answering the 8-bit address (bit 0 ignored); null detaches. Not owned.
    void Attach(uint8_t address, I2cSlave* slave) { slaves_[address >> 1] = slave; }
    // Each transaction goes to this trace as one line (null: none).
    void SetTrace(Trace* trace) { trace_ = trace; }

    // The clock the master runs, for the counters and the misread fault. 0: unknown (no bus time).
    void SetSpeedHz(uint32_t hz) { speedHz_ = hz; }
    uint32_t SpeedHz() const { return speedHz_; }
    bool ClockHeld() const { return settings_.clockHeld; }

    // Master side. Start on a busy bus is a repeated start.
    void Start();
    // A byte from the master; true when it was acknowledged.
    bool Write(uint8_t byte);
    // A byte to the master, which answers with `ack` (false: this is the last byte it wants).
    uint8_t Read(bool ack);
    void Stop();
    bool Idle() const { return state_ == State::Idle; }

    // Whole transfers as a display driver makes them: start, address, bytes, stop. False when the address
    // or a byte was not acknowledged (the transfer then stops there); a read takes `size` bytes,
    // acknowledging all but the last.
    bool WriteTransfer(uint8_t address, const uint8_t* data, size_t size);
    bool ReadTransfer(uint8_t address, uint8_t* data, size_t size);

    const I2cBusCounters& Counters() const { return counters_; }
    const I2cBusRecord& Record() const { return record_; }
    const I2cBusSettings& Settings() const { return settings_; }

private:
    enum class State : uint8_t { Idle, Address, Write, Read, Unanswered };
    void Clocks(uint32_t count);
    void NoteMisuse(I2cBusMisuse kind, const char* detail);
    void TraceText(const char* text);
    void TraceByte(uint8_t byte, bool ack);
    void TraceEnd();

    const I2cBusSettings settings_;
    std::array<I2cSlave*, 128> slaves_{};
    I2cSlave* current_ = nullptr;
    State state_ = State::Idle;
    bool masterNacked_ = false;
    uint32_t speedHz_ = 0;
    uint64_t misreadCount_ = 0; // bytes read at or above the misread speed
    I2cBusCounters counters_;
    I2cBusRecord record_;

    // The trace line of the transaction under way.
    Trace* trace_ = nullptr;
    char line_[224] = {};
    size_t lineLength_ = 0;
    uint32_t lineBytes_ = 0; // bytes in this transaction; only the first few are written out
};

} // namespace sim
