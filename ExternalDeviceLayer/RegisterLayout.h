// Register layouts of the card's GPU, as data: each register states its byte offset in the card's 64 KB
// register window, and each field its {shift, width}. The compiler checks that a field fits its register,
// that a constant fits its field and that a register lies in the window, so a layout cannot silently
// overlap or spill. The typed register class CRegs of the GPU's generic I2C engine builds on these: a
// register type (TReg + the register's name) names its offset here and its fields as members.
//
// The simulator keeps its own copy of these numbers on purpose (sim/Card.h): it is an independent model of
// the card, so a wrong number here cannot hide behind the same number there.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace regs {

// Size of the register window the PCI scan maps.
constexpr uint32_t kWindowSize = 0x10000;

// `Width` bits of a 32-bit register from bit `Shift` on.
template <uint32_t Shift, uint32_t Width> struct Field {
    static_assert(Width > 0 && Width <= 32 && Shift < 32 && Shift + Width <= 32,
                  "the field leaves the register");
    static constexpr uint32_t kShift = Shift;
    static constexpr uint32_t kWidth = Width;
    static constexpr uint32_t kMax = Width == 32 ? 0xFFFFFFFFu : (1u << Width) - 1;
    static constexpr uint32_t kMask = kMax << Shift;

    // The field's value in a register value.
    static constexpr uint32_t Get(uint32_t reg) { return (reg & kMask) >> Shift; }
    // The register value with the field replaced; the value is cut to the field's width.
    static constexpr uint32_t Set(uint32_t reg, uint32_t value) {
        return (reg & ~kMask) | ((value & kMax) << Shift);
    }
    // A constant placed in the field, checked at compile time.
    template <uint32_t Value> static constexpr uint32_t Make() {
        static_assert(Value <= kMax, "the constant does not fit its field");
        return Value << Shift;
    }
};

// A 32-bit register at a byte offset of the window.
template <uint32_t Offset> struct Register {
    static_assert(Offset % 4 == 0 && Offset + 4 <= kWindowSize, "a register is a dword inside the window");
    static constexpr uint32_t kOffset = Offset;
};

// True when no two of the masks share a bit.
constexpr bool Disjoint(std::initializer_list<uint32_t> masks) {
    uint32_t seen = 0;
    for (uint32_t mask : masks) {
        if ((seen & mask) != 0)
            return false;
        seen |= mask;
    }
    return true;
}

// The GPIO group: four registers with one bit per line, the lines the card's FPGA JTAG port hangs on.
struct TGpioLines {
    using Tdo = Field<0, 1>;    // input: the FPGA's TDO
    using Inputs = Field<0, 3>; // input lines 0 to 2, TDO among them
    using Tms = Field<5, 1>;    // output
    using Done = Field<6, 1>;   // output: pulsed at the end of a successful update
    using Tdi = Field<11, 3>;   // outputs 11 to 13, driven together
    using Tck = Field<29, 1>;   // output
    using Claim = Field<30, 1>; // output: pulsed when the port is claimed
};
static_assert(Disjoint({TGpioLines::Inputs::kMask, TGpioLines::Tms::kMask, TGpioLines::Done::kMask,
                        TGpioLines::Tdi::kMask, TGpioLines::Tck::kMask, TGpioLines::Claim::kMask}),
              "two GPIO lines share a bit");

struct TRegGPIO_MASK : Register<0x1798>, TGpioLines {};          // 1: the line is under GPIO control
struct TRegGPIO_OUTPUT : Register<0x179C>, TGpioLines {};        // the level driven on each output line
struct TRegGPIO_OUTPUT_ENABLE : Register<0x17A0>, TGpioLines {}; // 1: the line is an output
struct TRegGPIO_INPUT : Register<0x17A4>, TGpioLines {};         // the level sampled on each line

// The GPU's generic I2C engine: seven registers. Only the fields the program uses are named; the engine
// procedures leave every other bit as read, except where a value is built from zero (TRANSACTION, DATA).
struct TRegGENERIC_I2C_CONTROL : Register<0x60D0> {
    using Go = Field<0, 1>;        // set to start one transaction
    using SoftReset = Field<1, 1>; // pulsed at acquire
    using Enable = Field<3, 1>;    // set at acquire, cleared at release
    using Low = Field<0, 4>;       // bits 3..0, the only ones acquire keeps
    using Mode = Field<6, 1>;      // set at acquire
};
struct TRegGENERIC_I2C_STATUS : Register<0x60D8> {
    using Done = Field<4, 1>; // the transaction has finished
};
struct TRegGENERIC_I2C_SPEED : Register<0x60DC> {
    using Threshold = Field<0, 2>;
    using Filter = Field<4, 1>; // cleared
    using Prescale = Field<16, 16>;
};
struct TRegGENERIC_I2C_SETUP : Register<0x60E0> {
    using TimeLimit = Field<24, 8>;
};
struct TRegGENERIC_I2C_TRANSACTION : Register<0x60E4> {
    using Read = Field<0, 1>;       // direction: 0 write, 1 read
    using StopOnNack = Field<8, 1>; // always 1
    using Ack = Field<9, 1>;        // acknowledge the byte read
    using Start = Field<12, 1>;     // start condition before the transaction
    using Stop = Field<13, 1>;      // stop condition after it
    using Count = Field<16, 4>;     // bytes of the transaction minus 1
};
struct TRegGENERIC_I2C_DATA : Register<0x60E8> {
    using Read = Field<0, 1>;        // 0: load a byte to send; 1: read back a received byte
    using Byte = Field<8, 8>;        // the data byte
    using Index = Field<16, 4>;      // index in the engine's byte buffer
    using IndexWrite = Field<31, 1>; // the index is loaded with this access
};
struct TRegGENERIC_I2C_PIN_SELECTION : Register<0x60EC> {
    using ClockPin = Field<0, 7>;
    using DataPin = Field<8, 7>;
};
static_assert(Disjoint({TRegGENERIC_I2C_TRANSACTION::Read::kMask,
                        TRegGENERIC_I2C_TRANSACTION::StopOnNack::kMask,
                        TRegGENERIC_I2C_TRANSACTION::Ack::kMask, TRegGENERIC_I2C_TRANSACTION::Start::kMask,
                        TRegGENERIC_I2C_TRANSACTION::Stop::kMask, TRegGENERIC_I2C_TRANSACTION::Count::kMask}),
              "two TRANSACTION fields share a bit");
static_assert(Disjoint({TRegGENERIC_I2C_DATA::Read::kMask, TRegGENERIC_I2C_DATA::Byte::kMask,
                        TRegGENERIC_I2C_DATA::Index::kMask, TRegGENERIC_I2C_DATA::IndexWrite::kMask}),
              "two DATA fields share a bit");

} // namespace regs
