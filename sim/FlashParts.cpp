#include "sim/FlashParts.h"

#include "sim/Text.h"

namespace sim {

namespace {

constexpr uint32_t k4K = 0x1000, k32K = 0x8000, k64K = 0x10000;
constexpr uint32_t kWholeChip = 0;

// Typical times from each part's datasheet; the model turns them into status polls. Notes per row:
//
// SST25VF010A: Byte-Program 14 us, Sector-Erase (0x20, 4 KB) and Block-Erase (0x52, 32 KB) 18 ms, Chip-Erase
//   (0x60) 70 ms. Status: BUSY, WEL, BP0, BP1, AAI (bit 6), BPL (bit 7); the register is volatile and powers
//   up with BP1 = BP0 = 1 (the whole array protected). WRSR must follow EWSR (0x50) in the very next frame;
//   EWSR does not set WEL, so it does not open a program or an erase. Read-ID is 0x90 or 0xAB.
// "10 xx": not identified by its maker; the one fit is a 1 Mbit part whose electronic signature reads 0x10
//   (M25P10-A type): it answers 0x90 as it answers RES (0xAB), with its signature on every byte; JEDEC ID
//   20 20 11. Page Program 1.4 ms, Sector Erase (0xD8, 32 KB) 0.65 s, Bulk Erase (0xC7) about 1 s, WRSR 5 ms.
//   No 4 KB erase: 0x20 is not an instruction of the part.
// Pm25LV010: Page Program 1.5 ms, Sector Erase 0xD7 (4 KB) 40 ms, Block Erase 0xD8 (32 KB) and Chip Erase
//   0xC7 80 ms. No 0x20. Manufacturer and device by 0x90 and by RDID (0xAB).
// W25Q64FV: Page Program 0.7 ms, 0x20 (4 KB) 45 ms, 0x52 (32 KB) 120 ms, 0xD8 (64 KB) 150 ms, chip (0xC7 or
//   0x60) 20 s, status write 10 ms. SR1: BUSY, WEL, BP0-2, TB, SEC, SRP0. SR2: SRP1, QE, (reserved), LB1-3
//   (one-time), CMP, SUS (read only). 0x01 with one byte writes SR1 alone, with two SR1 and SR2; 0x31
//   writes SR2; 0x50 makes the next status write volatile.
// Pm25LD020 / Pm25LD040: Page Program 1 ms, 4 KB erase by 0x20 or 0xD7 40 ms, 64 KB block erase (0xD8)
//   100 ms, chip erase (0xC7 or 0x60) 0.5 s, WRSR 5 ms. Status: WIP, WEL, BP0-2, SRWD.
// The two Pm25LD parts share one datasheet and differ in device byte and size.
constexpr FlashPart Pm25Ld(const char* name, uint8_t device, uint32_t size) {
    return {name,
            0x9D,
            device,
            FlashIdAb::SameAs90,
            {0, 0, 0},
            size,
            FlashProgram::Page,
            1000,
            {{{0x20, k4K, 40000},
              {0xD7, k4K, 40000},
              {0xD8, k64K, 100000},
              {0xC7, kWholeChip, 500000},
              {0x60, kWholeChip, 500000}}},
            FlashFamily::Plain,
            1,
            0x9C,
            0,
            0,
            0x80,
            FlashStatusOpen::WriteEnable,
            false,
            0,
            false,
            false,
            false,
            5000,
            0x1C,
            k64K};
}

// clang-format off
const FlashPart kParts[] = {
    // name, manufacturer, device, 0xAB, JEDEC ID, size, program, program time,
    // erase opcodes,
    // family, status registers, writable 1, writable 2, one-time 2, lock bit, status open, volatile, power-up 1,
    //   0x50 volatile, 0x31, 0x01 two bytes, status time, block-protect bits, protect unit
    {"SST25VF010A", 0xBF, 0x49, FlashIdAb::SameAs90, {0, 0, 0}, 0x20000, FlashProgram::ByteAndAai, 14,
     {{{0x20, k4K, 18000}, {0x52, k32K, 18000}, {0x60, kWholeChip, 70000}}},
     FlashFamily::Plain, 1, 0x8C, 0, 0, 0x80, FlashStatusOpen::EnableWriteStatus, true, 0x0C,
     false, false, false, 0, 0x0C, k32K},
    {"M25P10-A", 0x10, 0x10, FlashIdAb::DeviceOnly, {0x20, 0x20, 0x11}, 0x20000, FlashProgram::Page, 1400,
     {{{0xD8, k32K, 650000}, {0xC7, kWholeChip, 1000000}}},
     FlashFamily::Plain, 1, 0x8C, 0, 0, 0x80, FlashStatusOpen::WriteEnable, false, 0,
     false, false, false, 5000, 0x0C, k32K},
    {"Pm25LV010", 0x9D, 0x7C, FlashIdAb::SameAs90, {0, 0, 0}, 0x20000, FlashProgram::Page, 1500,
     {{{0xD7, k4K, 40000}, {0xD8, k32K, 80000}, {0xC7, kWholeChip, 80000}}},
     FlashFamily::Plain, 1, 0x8C, 0, 0, 0x80, FlashStatusOpen::WriteEnable, false, 0,
     false, false, false, 5000, 0x0C, k32K},
    {"W25Q64FV", 0xEF, 0x16, FlashIdAb::DeviceOnly, {0xEF, 0x40, 0x17}, 0x800000, FlashProgram::Page, 700,
     {{{0x20, k4K, 45000}, {0x52, k32K, 120000}, {0xD8, k64K, 150000}, {0xC7, kWholeChip, 20000000},
       {0x60, kWholeChip, 20000000}}},
     FlashFamily::Winbond, 2, 0xFC, 0x7B, 0x38, 0x80, FlashStatusOpen::WriteEnable, false, 0,
     true, true, true, 10000, 0x1C, k64K},
    Pm25Ld("Pm25LD020", 0x11, 0x40000),
    Pm25Ld("Pm25LD040", 0x12, 0x80000),
};
// clang-format on
constexpr size_t kPartCount = sizeof kParts / sizeof kParts[0];
constexpr size_t kDefaultPart = 3; // W25Q64FV

} // namespace

const FlashPart* FlashParts(size_t& count) {
    count = kPartCount;
    return kParts;
}

const FlashPart* FindFlashPart(const std::string& name) {
    const std::string folded = FoldCaseAscii(name);
    for (const FlashPart& part : kParts)
        if (FoldCaseAscii(part.name) == folded)
            return &part;
    return nullptr;
}

const FlashPart* FindFlashPart(uint8_t manufacturer, uint8_t device) {
    for (const FlashPart& part : kParts)
        if (part.manufacturer == manufacturer && part.device == device)
            return &part;
    return nullptr;
}

const FlashPart& DefaultFlashPart() {
    return kParts[kDefaultPart];
}

} // namespace sim
