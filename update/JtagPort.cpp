#include "update/JtagPort.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "ExternalDeviceLayer/PciConfig.h"
#include "update/TapState.h"

namespace {

// Read-back mode: write-write-read triples before a register that never holds the value is given up.
constexpr uint32_t kReadBackAttempts = 1000;
// Counter reads while waiting for the performance counter or the microsecond count to move on. A working
// counter moves within a few reads; the bound only keeps a stuck one from hanging the program.
constexpr uint32_t kCounterPolls = 1u << 20;

constexpr uint32_t kWarmUpChanges = 8192;
constexpr uint32_t kCalibrationPasses = 256;
constexpr uint32_t kWritesPerPass = 4096;

// Settle counts from this value on write the register twice and wait at least kLongSettle iterations.
constexpr uint32_t kDoubleWriteSettle = 16;
constexpr uint32_t kLongSettle = 38;

// The settle delay: a busy-wait whose steps the optimiser must keep, since nothing reads their result.
void Settle(uint32_t iterations) {
    volatile uint64_t spin = 0;
    for (uint32_t i = 0; i < iterations; ++i)
        spin = spin + 3;
}

bool WriteUntilHeld(tagDeviceUpdate& job, RegisterBus& bus, uint32_t offset, uint32_t value) {
    for (uint32_t attempt = 0; attempt < kReadBackAttempts; ++attempt) {
        bus.WriteMem(job.regBase, offset, value);
        bus.WriteMem(job.regBase, offset, value);
        if (bus.ReadMem(job.regBase, offset) == value)
            return true;
    }
    return false;
}

bool WaitForCounterChange(plat::Clock& clock) {
    const uint64_t start = clock.PerformanceCounter();
    for (uint32_t poll = 0; poll < kCounterPolls; ++poll) {
        if (clock.PerformanceCounter() != start)
            return true;
    }
    return false;
}

bool WaitForNextMicrosecond(plat::Clock& clock) {
    const uint32_t start = ReadMicroseconds(clock);
    for (uint32_t poll = 0; poll < kCounterPolls; ++poll) {
        if (ReadMicroseconds(clock) != start)
            return true;
    }
    return false;
}

// The write of a mode that verifies or settles: out of line, so that the plain write stays a single bus call
// in the line primitives.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
bool WriteVerifiedOrSettled(tagDeviceUpdate& job, RegisterBus& bus, uint32_t offset, uint32_t value,
                            int32_t mode, uint32_t settle) {
    if (mode == kPortReadBack)
        return WriteUntilHeld(job, bus, offset, value);
    bus.WriteMem(job.regBase, offset, value);
    if (settle >= kDoubleWriteSettle)
        bus.WriteMem(job.regBase, offset, value);
    Settle(SettleIterations(settle));
    return true;
}

// The clock and data lines for the length of one operation: the port mode, settle count and output image
// are held here and the image is stored back at the end. Only the card's worker drives its port while an
// operation runs, so nothing else reads the image meanwhile.
//
// Without settling or read-back, output writes are queued and handed to the bus as one series: before
// every input read, when the queue is full, and at the end of the operation. The bus sees the same writes
// in the same order, interleaved with the reads exactly as before; only the calls are fewer.
class PortLines {
public:
    PortLines(tagDeviceUpdate& job, RegisterBus& bus)
        : job_(job), bus_(bus), base_(job.regBase), mode_(job.portMode.load(std::memory_order_relaxed)),
          settle_(job.settleCount.load(std::memory_order_relaxed)),
          image_(job.gpioImage.load(std::memory_order_relaxed)),
          plain_(mode_ != kPortReadBack && settle_ == 0) {}
    // The end of an operation hands the queued writes to the bus, which may throw (test buses do, to cut a
    // run short); an operation left by an exception hands it nothing more.
    ~PortLines() noexcept(false) {
        job_.gpioImage.store(image_, std::memory_order_relaxed);
        if (std::uncaught_exceptions() == uncaught_)
            Flush();
    }
    PortLines(const PortLines&) = delete;
    PortLines& operator=(const PortLines&) = delete;

    void Data(uint32_t lines, uint32_t level) { image_ = level != 0 ? (image_ | lines) : (image_ & ~lines); }

    // A change of the clock level writes the image with the old level first, so that pending data lines
    // settle before the edge; the edge is then a write of its own.
    void Clock(uint32_t level) {
        const uint32_t next = level != 0 ? (image_ | kLineTck) : (image_ & ~kLineTck);
        if (next != image_)
            Write(image_);
        Write(next);
        image_ = next;
    }

    // `count` full clock pulses from a low clock: each is the four writes low, high, high, low that
    // Clock(1) and Clock(0) make, with the image unchanged. Queued as a repeated pattern in plain mode.
    void Pulses(uint32_t count) {
        if (!plain_ || (image_ & kLineTck) != 0) {
            for (uint32_t i = 0; i < count; ++i) {
                Clock(1);
                Clock(0);
            }
            return;
        }
        const uint32_t low = image_;
        const uint32_t high = image_ | kLineTck;
        while (count > 0) {
            if (queued_ + 4 > kQueue)
                Flush();
            const uint32_t room = (kQueue - queued_) / 4;
            const uint32_t now = count < room ? count : room;
            uint32_t* at = queue_ + queued_;
            for (uint32_t i = 0; i < now; ++i, at += 4) {
                at[0] = low;
                at[1] = high;
                at[2] = high;
                at[3] = low;
            }
            queued_ += now * 4;
            count -= now;
        }
    }

    // One shifted bit with nothing captured: TDI to `bit`, then the writes of Clock(0) and Clock(1).
    void ShiftOutBit(uint32_t bit) {
        Data(kLinesTdi, bit);
        Clock(0);
        Clock(1);
    }

    // Whether ShiftOutRun may be used: plain writes, and the clock high as every shifted bit leaves it.
    bool CanQueueBits() const { return plain_ && (image_ & kLineTck) != 0; }

    // Bits `from` to `to` (exclusive) of `tdi`, counted from bit 0 of its last byte, shifted out with
    // nothing captured. Each bit makes the writes ShiftOutBit makes from a high clock: high, low, low, high
    // with the bit on TDI. Only when CanQueueBits().
    void ShiftOutRun(const uint8_t* tdi, uint32_t length, uint64_t from, uint64_t to) {
        const uint64_t from0 = from;
        // The four writes of a bit depend on the bit alone: one pattern for 0 and one for 1.
        const uint32_t keep = image_ & ~kLinesTdi;
        const uint32_t patterns[2][4] = {{keep, keep & ~kLineTck, keep & ~kLineTck, keep},
                                         {keep | kLinesTdi, (keep | kLinesTdi) & ~kLineTck,
                                          (keep | kLinesTdi) & ~kLineTck, keep | kLinesTdi}};
        uint32_t last = 0;
        while (from < to) {
            if (queued_ + 4 > kQueue)
                Flush();
            const uint64_t room = (kQueue - queued_) / 4;
            const uint64_t end = to - from < room ? to : from + room;
            uint32_t* at = queue_ + queued_;
            queued_ += static_cast<uint32_t>(end - from) * 4;
            while (from < end) {
                // The rest of the current byte, or as much of it as the run takes.
                uint32_t byte = uint32_t(tdi[length - 1 - static_cast<uint32_t>(from >> 3)]) >> (from & 7);
                const uint64_t left = 8 - (from & 7);
                const uint32_t bits = static_cast<uint32_t>(end - from < left ? end - from : left);
                from += bits;
                for (uint32_t i = 0; i < bits; ++i, byte >>= 1, at += 4) {
                    last = byte & 1;
                    std::memcpy(at, patterns[last], sizeof patterns[last]);
                }
            }
        }
        if (to > from0)
            image_ = patterns[last][0];
    }

    uint32_t Inputs() {
        Flush();
        return bus_.ReadMem(base_, kGpioInput) & kLinesInput;
    }

private:
    static constexpr uint32_t kQueue = 256;

    void Write(uint32_t value) {
        if (plain_) {
            if (queued_ == kQueue)
                Flush();
            queue_[queued_++] = value;
        } else {
            WriteVerifiedOrSettled(job_, bus_, kGpioOutput, value, mode_, settle_);
        }
    }

    void Flush() {
        if (queued_ != 0)
            bus_.WriteMemSeries(base_, kGpioOutput, queue_, queued_);
        queued_ = 0;
    }

    tagDeviceUpdate& job_;
    RegisterBus& bus_;
    const uintptr_t base_;
    const int32_t mode_;
    const uint32_t settle_;
    uint32_t image_;
    const bool plain_;
    const int uncaught_ = std::uncaught_exceptions();
    uint32_t queued_ = 0;
    uint32_t queue_[kQueue];
};

} // namespace

uint32_t SettleIterations(uint32_t settleCount) {
    return settleCount >= kDoubleWriteSettle ? std::max(settleCount, kLongSettle) : settleCount;
}

bool WritePortRegister(tagDeviceUpdate& job, RegisterBus& bus, uint32_t offset, uint32_t value) {
    const int32_t mode = job.portMode.load(std::memory_order_relaxed);
    const uint32_t settle = job.settleCount.load(std::memory_order_relaxed);
    bool held = true;
    if (mode == kPortReadBack || settle != 0)
        held = WriteVerifiedOrSettled(job, bus, offset, value, mode, settle);
    else
        bus.WriteMem(job.regBase, offset, value);
    if (offset == kGpioOutput)
        job.gpioImage.store(value, std::memory_order_relaxed);
    return held;
}

void SetPort(tagDeviceUpdate& job, RegisterBus& bus, JtagLine line, uint32_t level) {
    PortLines lines(job, bus);
    switch (line) {
    case JtagLine::Tck:
        lines.Clock(level);
        break;
    case JtagLine::Tms:
        lines.Data(kLineTms, level);
        break;
    case JtagLine::Tdi:
        lines.Data(kLinesTdi, level);
        break;
    }
}

uint32_t ReadTdo(tagDeviceUpdate& job, RegisterBus& bus) {
    return bus.ReadMem(job.regBase, kGpioInput) & kLinesInput;
}

void PulseTck(tagDeviceUpdate& job, RegisterBus& bus) {
    PortLines lines(job, bus);
    lines.Clock(1);
    lines.Clock(0);
}

void WaitTck(tagDeviceUpdate& job, RegisterBus& bus, int32_t count) {
    if (count <= 0)
        return;
    PortLines lines(job, bus);
    // A first pulse from a high clock has no leading low write; every later one starts low.
    lines.Clock(1);
    lines.Clock(0);
    lines.Pulses(static_cast<uint32_t>(count - 1));
}

void TmsTransition(tagDeviceUpdate& job, RegisterBus& bus, uint32_t level) {
    PortLines lines(job, bus);
    lines.Data(kLineTms, level);
    lines.Clock(0);
    lines.Clock(1);
}

int32_t GotoTapState(tagDeviceUpdate& job, RegisterBus& bus, uint8_t& tapState, uint8_t target) {
    TapState to = TapState::TestLogicReset;
    if (!TapStateFromNumber(target, to))
        return kTapIllegalState;
    // The reset sequence works from any state, even one the variable cannot name.
    TapState from = TapState::TestLogicReset;
    if (to != TapState::TestLogicReset && !TapStateFromNumber(tapState, from))
        return kTapIllegalState;
    TapPath path;
    if (TapPathTo(from, to, path) != 0)
        return kTapIllegalState;
    for (uint32_t i = 0; i < path.count; ++i)
        TmsTransition(job, bus, (path.bits >> i) & 1);
    tapState = target;
    return 0;
}

void ShiftBits(tagDeviceUpdate& job, RegisterBus& bus, uint32_t bitCount, const uint8_t* tdi, uint32_t length,
               uint8_t* captured, bool exit) {
    if (captured != nullptr && length > 0)
        std::memset(captured, 0, length);
    PortLines lines(job, bus);
    const uint64_t total = std::min<uint64_t>(bitCount, uint64_t(length) * 8);
    // Bit `at` of the vector, counted from bit 0 of its last byte.
    const auto bitAt = [tdi, length](uint64_t at) {
        return (uint32_t(tdi[length - 1 - static_cast<uint32_t>(at >> 3)]) >> (at & 7)) & 1;
    };
    if (captured == nullptr) {
        // All bits but an exiting last one, which raises TMS first.
        const uint64_t plain = exit && total > 0 ? total - 1 : total;
        for (uint64_t at = 0; at < plain;) {
            if (lines.CanQueueBits()) {
                lines.ShiftOutRun(tdi, length, at, plain);
                at = plain;
            } else {
                lines.ShiftOutBit(bitAt(at++));
            }
        }
        if (plain < total) {
            lines.Data(kLineTms, 1);
            lines.ShiftOutBit(bitAt(plain));
        }
        return;
    }
    for (uint64_t at = 0; at < total; ++at) {
        if (exit && at + 1 == total)
            lines.Data(kLineTms, 1);
        lines.Data(kLinesTdi, bitAt(at));
        lines.Clock(0);
        const uint32_t tdo = lines.Inputs() & 1;
        captured[length - 1 - static_cast<uint32_t>(at >> 3)] |= static_cast<uint8_t>(tdo << (at & 7));
        lines.Clock(1);
    }
}

void InitJtagPort(tagDeviceUpdate& job, RegisterBus& bus, plat::Clock& clock,
                  const CalibrationProgress& progress) {
    pcicfg::EnableRegisterAccess(bus, job.hPci);

    // The claim line goes high under GPIO control, then leaves it; its bit stays set in the image.
    WritePortRegister(job, bus, kGpioMask, kLineClaim);
    WritePortRegister(job, bus, kGpioOutputEnable, kLineClaim);
    WritePortRegister(job, bus, kGpioOutput, kLineClaim);
    WritePortRegister(job, bus, kGpioMask, kLineTck | kLinesTdi | kLineTms | kLinesInput);
    WritePortRegister(job, bus, kGpioOutputEnable, kLineTck | kLinesTdi | kLineTms);

    SetPort(job, bus, JtagLine::Tms, 1);
    SetPort(job, bus, JtagLine::Tck, 0);
    if (job.portMode.load(std::memory_order_relaxed) == kPortCalibrated)
        CalibrateSettleCount(job, bus, clock, progress);
    SetPort(job, bus, JtagLine::Tdi, 0);
}

void CalibrateSettleCount(tagDeviceUpdate& job, RegisterBus& bus, plat::Clock& clock,
                          const CalibrationProgress& progress) {
    for (uint32_t i = 0; i < kWarmUpChanges; ++i) {
        if (!WaitForCounterChange(clock))
            break; // a stuck counter: the passes below see no difference either
    }
    const uint32_t numerator = clock.ProcessorMhz() * 10;

    if (progress)
        progress(0, kCalibrationPasses);
    uint32_t largest = 0;
    for (uint32_t pass = 0; pass < kCalibrationPasses; ++pass) {
        const uint64_t start = clock.PerformanceCounter();
        for (uint32_t write = 0; write < kWritesPerPass; ++write)
            bus.WriteMem(job.regBase, kGpioOutput, (write & 1) != 0 ? 0 : kLinesTdi);
        const uint32_t ticks = static_cast<uint32_t>(clock.PerformanceCounter() - start);
        // Writes too fast for the counter to see call for the longest settle.
        const uint32_t quotient = ticks != 0 ? numerator / ticks : kMaxSettleCount;
        largest = std::max(largest, quotient);
        if (progress)
            progress(pass + 1, kCalibrationPasses);
    }

    if (numerator != 0)
        job.settleCount.store(std::min(largest, kMaxSettleCount), std::memory_order_relaxed);
    SetPort(job, bus, JtagLine::Tdi, 1);
}

bool CloseJtagPort(tagDeviceUpdate& job, RegisterBus& bus, plat::Clock& clock, bool success) {
    const int32_t mode = job.portMode.load(std::memory_order_relaxed);
    bool complete = true;
    if (success) {
        const uint32_t pulse[][2] = {
            {kGpioMask, kLineDone}, {kGpioOutputEnable, kLineDone}, {kGpioOutput, kLineDone}};
        for (const auto& write : pulse) {
            complete = WritePortRegister(job, bus, write[0], write[1]) && complete;
            if (mode == kPortReadBack)
                complete = WaitForNextMicrosecond(clock) && complete;
        }
        complete = WritePortRegister(job, bus, kGpioOutput, 0) && complete;
    }
    if (mode == kPortCalibrated) {
        WritePortRegister(job, bus, kGpioMask, kLineClaim);
        WritePortRegister(job, bus, kGpioOutputEnable, kLineClaim);
        WritePortRegister(job, bus, kGpioOutput, 0);
        WritePortRegister(job, bus, kGpioMask, 0);
    }
    return complete;
}

uint32_t ReadMicroseconds(plat::Clock& clock) {
    const uint64_t frequency = clock.PerformanceFrequency();
    if (frequency == 0)
        return 0;
    const uint64_t counter = clock.PerformanceCounter();
    // Whole seconds and the remainder apart, so that a long uptime cannot overflow the product.
    const uint64_t microseconds = counter / frequency * 1000000 + counter % frequency * 1000000 / frequency;
    return static_cast<uint32_t>(microseconds);
}
