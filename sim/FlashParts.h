// The SPI NOR flash parts the simulated cards can carry: one row per part, written from the parts' public
// datasheets (and kept apart from the program's own part table, so that one typo cannot hide in both).
// sim/SpiFlash.* is the one model; a row says how a part differs. docs/SIMULATOR.md has the table in prose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// What the part's program opcodes do.
enum class FlashProgram : uint8_t {
    Page,       // 0x02: up to 256 bytes into one page, wrapping inside it
    ByteAndAai, // 0x02 programs one byte; 0xAF auto-address-increment, one data byte per frame
};

// What the part answers to 0xAB (after three dummy bytes).
enum class FlashIdAb : uint8_t {
    None,       // not an instruction of the part
    SameAs90,   // manufacturer and device, as 0x90 does
    DeviceOnly, // the device byte (the electronic signature), on every byte
};

// What opens a status write (0x01) for the part.
enum class FlashStatusOpen : uint8_t {
    WriteEnable,       // the write-enable latch (0x06), which the write then clears
    EnableWriteStatus, // 0x50 in the frame right before; the latch plays no part
};

// Status register layout and protection decoding of the part's family.
enum class FlashFamily : uint8_t {
    Plain,   // block-protect bits from bit 2 protect the top 1/2^n; the lock bit is bit 7
    Winbond, // also TB (SR1 bit 5), SEC (bit 6), CMP (SR2 bit 6), SRP1 (SR2 bit 0), QE (SR2 bit 1)
};

// An erase opcode. `bytes` 0: the whole array.
struct FlashErase {
    uint8_t opcode;
    uint32_t bytes;
    uint32_t micros; // typical time
};
constexpr size_t kFlashEraseOps = 6;

struct FlashPart {
    const char* name;
    uint8_t manufacturer, device; // 0x90 at address 0 answers manufacturer, device, manufacturer, ...
    FlashIdAb ab;
    std::array<uint8_t, 3> jedec; // 0x9F; all zero: the part does not know 0x9F
    uint32_t size;
    FlashProgram program;
    uint32_t programMicros;                       // typical: a page, or one byte on a ByteAndAai part
    std::array<FlashErase, kFlashEraseOps> erase; // opcode 0 ends the list
    FlashFamily family;
    uint8_t statusRegisters;      // 1, or 2 (0x35 reads the second)
    uint8_t writable1, writable2; // bits a status write changes
    uint8_t otp2;                 // bits of status register 2 that stay set once set
    uint8_t lockBit;              // of register 1: with WP# low and this bit set, status writes are refused
    FlashStatusOpen statusOpen;
    bool statusVolatile;   // the status register is not kept over a power cycle
    uint8_t powerUp1;      // register 1 at power-up when it is volatile
    bool volatile50;       // 0x50 makes the next status write volatile (no latch, no busy time)
    bool write31;          // 0x31 writes status register 2
    bool status01Two;      // 0x01 takes status register 2 as a second data byte
    uint32_t statusMicros; // typical time of a non-volatile status write
    uint8_t bpMask;        // block-protect bits of register 1, from bit 2 up
    uint32_t protectUnit;  // bytes protected at block-protect value 1; each step doubles it
};

// The six rows, in the program's order of the parts: BF 49, 10 xx, 9D 7C, EF 16, 9D 11, 9D 12.
const FlashPart* FlashParts(size_t& count);
// By name (case ignored) or by the 0x90 answer; null when there is none.
const FlashPart* FindFlashPart(const std::string& name);
const FlashPart* FindFlashPart(uint8_t manufacturer, uint8_t device);
// The part a card carries when its description names none: the one large enough for any image.
const FlashPart& DefaultFlashPart();

} // namespace sim
