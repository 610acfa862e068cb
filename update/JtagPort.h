// JTAG to the card's FPGA over general-purpose I/O lines of the card's GPU, bit-banged through the GPU's
// GPIO register group in the card's register window. All per-card state lives in the card's job; every
// operation takes the job and the register bus, and the clock where it measures time.
//
// Lines (bit numbers in all four GPIO registers): TCK 29, TMS 5, TDI 11 to 13 (driven together), TDO 0 with
// inputs 1 and 2, a claim line 30 and an end-of-update pulse line 6.
#pragma once

#include <cstdint>
#include <functional>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "ExternalDeviceLayer/RegisterLayout.h"
#include "platform/Platform.h"
#include "update/DeviceUpdate.h"

// GPIO register group, byte offsets in the card's register window (layouts in RegisterLayout.h).
constexpr uint32_t kGpioMask = regs::TRegGPIO_MASK::kOffset;
constexpr uint32_t kGpioOutput = regs::TRegGPIO_OUTPUT::kOffset;
constexpr uint32_t kGpioOutputEnable = regs::TRegGPIO_OUTPUT_ENABLE::kOffset;
constexpr uint32_t kGpioInput = regs::TRegGPIO_INPUT::kOffset;

constexpr uint32_t kLineTck = regs::TGpioLines::Tck::kMask;
constexpr uint32_t kLineTms = regs::TGpioLines::Tms::kMask;
constexpr uint32_t kLinesTdi = regs::TGpioLines::Tdi::kMask;
constexpr uint32_t kLinesInput = regs::TGpioLines::Inputs::kMask; // bit 0 is TDO
constexpr uint32_t kLineClaim = regs::TGpioLines::Claim::kMask;
constexpr uint32_t kLineDone = regs::TGpioLines::Done::kMask;
static_assert(kLineTck == 0x20000000 && kLineTms == 0x20 && kLinesTdi == 0x3800 && kLinesInput == 0x7 &&
                  kLineClaim == 0x40000000 && kLineDone == 0x40,
              "the JTAG lines of the GPIO group");

// Port modes of a job.
constexpr int32_t kPortCalibrated = 0;  // calibrate at setup, settle after every write, release at close
constexpr int32_t kPortReadBack = 1;    // write twice and read back until the register holds the value
constexpr int32_t kPortFixedSettle = 2; // settle after every write with the run's settle count

// Largest settle count calibration may choose.
constexpr uint32_t kMaxSettleCount = 64;

enum class JtagLine : uint32_t { Tck = 0, Tms = 1, Tdi = 2 };

// Writes one GPIO register with the mode's settle busy-wait or read-back; a write to the output register
// also becomes the output image. False only in read-back mode, when the register did not come to hold the
// value within a bounded number of attempts (the image is still updated: the value was written).
bool WritePortRegister(tagDeviceUpdate& job, RegisterBus& bus, uint32_t offset, uint32_t value);

// The busy-wait iterations after a settled write: the settle count, and at least 38 from 16 on, where the
// register is written twice.
uint32_t SettleIterations(uint32_t settleCount);

// TMS and TDI change only the output image. TCK writes it: when the clock level changes, first the image
// with the old clock level (putting pending TMS and TDI on the lines), then the new clock level, so a clock
// edge is always a write of its own. A level other than 0 counts as 1.
void SetPort(tagDeviceUpdate& job, RegisterBus& bus, JtagLine line, uint32_t level);

// The GPIO input lines 0 to 2; TDO is bit 0.
uint32_t ReadTdo(tagDeviceUpdate& job, RegisterBus& bus);

// TCK to 1, then to 0.
void PulseTck(tagDeviceUpdate& job, RegisterBus& bus);

// `count` TCK pulses; none for 0 or less. Update streams wait one pulse per microsecond.
void WaitTck(tagDeviceUpdate& job, RegisterBus& bus, int32_t count);

// TMS to level, TCK to 0, TCK to 1: one TAP step.
void TmsTransition(tagDeviceUpdate& job, RegisterBus& bus, uint32_t level);

// Walks the TAP from the state number in `tapState` to `target` and stores the new state. Returns 0, or
// kTapIllegalState without any clock when a number is above 15 or the move is refused.
int32_t GotoTapState(tagDeviceUpdate& job, RegisterBus& bus, uint8_t& tapState, uint8_t target);

// Clocks bitCount bits of `tdi` through TDI, least significant first: from the last of `length` bytes towards
// byte 0, bit 0 of each byte first. With `captured` (at least `length` bytes), TDO is sampled while TCK is
// low and stored at the bit's position in the byte of the same index; all `length` bytes are written, bits
// not shifted are 0. With `exit`, TMS rises before the last bit. Bits beyond the `length` bytes are not
// shifted.
void ShiftBits(tagDeviceUpdate& job, RegisterBus& bus, uint32_t bitCount, const uint8_t* tdi, uint32_t length,
               uint8_t* captured, bool exit);

// How calibration goes, for whoever waits for it to show (the port layer shows nothing): called with 0
// before the first pass, then after each pass with the number of passes done, up to `total`. May be empty.
using CalibrationProgress = std::function<void(uint32_t done, uint32_t total)>;

// Claims the JTAG lines of the card: memory space on, the claim line pulsed into the output image, TCK low,
// TMS high, TDI low. In port mode 0 it calibrates the settle count first, telling `progress` how it goes.
void InitJtagPort(tagDeviceUpdate& job, RegisterBus& bus, plat::Clock& clock,
                  const CalibrationProgress& progress);

// Measures the raw write rate of the output register against the processor clock and stores the settle
// count it calls for, at most 64. Leaves TDI high in the image. A pass too fast for the counter to see counts
// as the fastest rate (64); with the processor clock unknown the settle count is left as it is.
void CalibrateSettleCount(tagDeviceUpdate& job, RegisterBus& bus, plat::Clock& clock,
                          const CalibrationProgress& progress);

// After the update: a pulse on line 6 when the update succeeded, and in port mode 0 all lines released.
// In read-back mode each of the pulse's first three writes is followed by a wait for the next microsecond.
// False when a read-back write or a microsecond wait did not complete within its bound; the sequence is
// carried to its end regardless, so the pulse line is never left high.
bool CloseJtagPort(tagDeviceUpdate& job, RegisterBus& bus, plat::Clock& clock, bool success);

// The performance counter in microseconds, low 32 bits; 0 when the counter has no frequency.
uint32_t ReadMicroseconds(plat::Clock& clock);
