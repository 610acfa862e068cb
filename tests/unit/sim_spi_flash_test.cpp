// The SPI NOR flash model against the six parts' datasheets: identification, status registers and their
// writes, the write-enable latch, block protection, erase by the part's own opcodes, programming that only
// clears bits, page wrap, busy time in polls, the SST part's auto-address-increment program, misuse, the
// faults and the file that keeps a flash across processes. The facts below are written from the datasheets
// again, apart from the model's rows, so that a slip in a row shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/TempFolder.h"
#include "sim/FpgaImage.h"
#include "sim/SpiFlash.h"

namespace {

using Bytes = std::vector<uint8_t>;
using M = sim::SpiFlashMisuse;

struct Facts {
    const char* name;
    uint8_t manufacturer, device;
    Bytes ab;    // the first two bytes after 0xAB and three dummy bytes; empty: not an instruction
    Bytes jedec; // 0x9F; empty: not an instruction
    uint32_t size;
    uint8_t erase4k;        // an opcode that erases 4 KB; 0: none
    uint32_t smallestErase; // the smallest block an erase opcode takes
    uint8_t smallestOpcode;
    uint32_t smallestMicros; // its typical time
    bool knows20;            // 0x20 erases
    uint8_t statusEnable;    // what must come right before 0x01: WREN, or the SST part's EWSR
    int statusRegisters;
    uint8_t bpAll;     // block-protect bits that protect everything
    uint32_t bpOneTop; // bytes at the top that block-protect value 1 protects
    bool aai;
};

// clang-format off
const Facts kFacts[] = {
    // name, 0x90, 0xAB, 0x9F, size, 4 KB erase, smallest erase (bytes, opcode, time), 0x20 erases,
    // status enable, status registers, protect all, protected top at 1, auto-address-increment
    {"SST25VF010A", 0xBF, 0x49, {0xBF, 0x49}, {}, 0x20000, 0x20, 0x1000, 0x20, 18000, true,
     0x50, 1, 0x0C, 0x8000, true},
    {"M25P10-A", 0x10, 0x10, {0x10, 0x10}, {0x20, 0x20, 0x11}, 0x20000, 0, 0x8000, 0xD8, 650000, false,
     0x06, 1, 0x0C, 0x8000, false},
    {"Pm25LV010", 0x9D, 0x7C, {0x9D, 0x7C}, {}, 0x20000, 0xD7, 0x1000, 0xD7, 40000, false,
     0x06, 1, 0x0C, 0x8000, false},
    {"W25Q64FV", 0xEF, 0x16, {0x16, 0x16}, {0xEF, 0x40, 0x17}, 0x800000, 0x20, 0x1000, 0x20, 45000, true,
     0x06, 2, 0x1C, 0x10000, false},
    {"Pm25LD020", 0x9D, 0x11, {0x9D, 0x11}, {}, 0x40000, 0xD7, 0x1000, 0x20, 40000, true,
     0x06, 1, 0x1C, 0x10000, false},
    {"Pm25LD040", 0x9D, 0x12, {0x9D, 0x12}, {}, 0x80000, 0x20, 0x1000, 0xD7, 40000, true,
     0x06, 1, 0x1C, 0x10000, false},
};
// clang-format on

// A blank part of the row named by the facts.
sim::SpiFlashSettings Blank(const Facts& f) {
    sim::SpiFlashSettings s;
    s.part = f.name;
    s.factoryImageBytes = 0;
    return s;
}

Bytes Frame(sim::SpiFlash& flash, const Bytes& out) {
    Bytes in;
    flash.Select();
    for (uint8_t b : out)
        in.push_back(flash.Transfer(b));
    flash.Deselect();
    return in;
}

Bytes WithAddress(uint8_t opcode, uint32_t address, const Bytes& data = {}) {
    Bytes out = {opcode, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

uint8_t Status(sim::SpiFlash& flash) {
    return Frame(flash, {0x05, 0})[1];
}

// Polls until ready; the number of polls that saw busy.
uint32_t WaitReady(sim::SpiFlash& flash) {
    uint32_t busy = 0;
    while ((Status(flash) & 1) && busy < 3000)
        ++busy;
    return busy;
}

void WriteStatus(sim::SpiFlash& flash, const Facts& f, const Bytes& values) {
    Frame(flash, {f.statusEnable});
    Bytes out = {0x01};
    out.insert(out.end(), values.begin(), values.end());
    Frame(flash, out);
    WaitReady(flash);
}

void Erase(sim::SpiFlash& flash, uint8_t opcode, uint32_t address) {
    Frame(flash, {0x06});
    Frame(flash, WithAddress(opcode, address));
    WaitReady(flash);
}

void Program(sim::SpiFlash& flash, uint32_t address, const Bytes& data) {
    Frame(flash, {0x06});
    Frame(flash, WithAddress(0x02, address, data));
    WaitReady(flash);
}

uint8_t At(sim::SpiFlash& flash, uint32_t address) {
    return flash.Contents()[address];
}

TEST(SimSpiFlash, EveryPartIdentifiesItselfAsItsDatasheetSays) {
    size_t count = 0;
    sim::FlashParts(count);
    ASSERT_EQ(count, sizeof kFacts / sizeof kFacts[0]);
    for (const Facts& f : kFacts) {
        sim::SpiFlash flash(Blank(f));
        EXPECT_EQ(flash.Part().size, f.size) << f.name;
        const Bytes byAddress0 = Frame(flash, {0x90, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(byAddress0, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, f.manufacturer, f.device, f.manufacturer}))
            << f.name;
        const Bytes byAddress1 = Frame(flash, {0x90, 0, 0, 1, 0, 0});
        EXPECT_EQ(byAddress1, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, f.device, f.manufacturer}))
            << f.name << ": address bit 0 sends the device first";
        const Bytes ab = Frame(flash, {0xAB, 0, 0, 0, 0, 0});
        const Bytes abWanted = f.ab.empty() ? Bytes{0xFF, 0xFF} : f.ab;
        EXPECT_EQ(Bytes(ab.begin() + 4, ab.end()), abWanted) << f.name;
        const Bytes jedec = Frame(flash, {0x9F, 0, 0, 0});
        const Bytes jedecWanted = f.jedec.empty() ? Bytes{0xFF, 0xFF, 0xFF} : f.jedec;
        EXPECT_EQ(Bytes(jedec.begin() + 1, jedec.end()), jedecWanted) << f.name;
        EXPECT_EQ(flash.Record().Count(M::UnknownCommand), f.jedec.empty() ? 1u : 0u) << f.name;
        EXPECT_EQ(sim::FindFlashPart(f.manufacturer, f.device), &flash.Part()) << f.name;
    }
}

TEST(SimSpiFlash, StatusWritesNeedTheirEnableAndTheLatchClearsWhenTheyEnd) {
    for (const Facts& f : kFacts) {
        sim::SpiFlash flash(Blank(f));
        if (f.statusEnable == 0x50) {
            EXPECT_EQ(Status(flash), 0x0C) << f.name << ": powers up with the whole array protected";
            Frame(flash, {0x06}); // the latch does not open its status register
            Frame(flash, {0x01, 0x00});
            EXPECT_EQ(flash.Record().Count(M::StatusWriteNotArmed), 1u) << f.name;
            Frame(flash, {0x50});
            Frame(flash, {0x05, 0}); // EWSR counts for the very next frame only
            Frame(flash, {0x01, 0x00});
            EXPECT_EQ(flash.Record().Count(M::StatusWriteNotArmed), 2u) << f.name;
            EXPECT_EQ(Status(flash), 0x0E) << f.name;
            Frame(flash, {0x04});
        } else {
            Frame(flash, {0x01, 0x0C});
            EXPECT_EQ(flash.Record().Count(M::NoWriteEnable), 1u) << f.name;
            EXPECT_EQ(Status(flash), 0x00) << f.name;
        }
        Frame(flash, {f.statusEnable});
        Frame(flash, {0x01, 0xFF});
        EXPECT_EQ(WaitReady(flash) == 0, f.statusEnable == 0x50)
            << f.name << ": only the volatile one is at once";
        const uint8_t written = uint8_t(Status(flash));
        EXPECT_EQ(written & 0x03, 0) << f.name << ": busy and latch clear after the write";
        EXPECT_EQ(written & 0x80, 0x80) << f.name << ": the lock bit is writable";
        EXPECT_EQ(written & 0x0C, 0x0C) << f.name;
        if (f.statusEnable == 0x50) {
            EXPECT_EQ(written, 0x8C) << f.name << ": BUSY, WEL, AAI and bits 4, 5 are not written";
        }
    }
}

TEST(SimSpiFlash, StatusWriteTimesCountInPolls) {
    struct Case {
        const char* name;
        uint32_t polls; // typical status write time / 300 us, rounded up
    } cases[] = {{"SST25VF010A", 0}, {"M25P10-A", 17},  {"Pm25LV010", 17},
                 {"W25Q64FV", 34},   {"Pm25LD020", 17}, {"Pm25LD040", 17}};
    for (const Case& c : cases) {
        sim::SpiFlashSettings s;
        s.part = c.name;
        sim::SpiFlash flash(s);
        const bool sst = flash.Part().statusOpen == sim::FlashStatusOpen::EnableWriteStatus;
        Frame(flash, {uint8_t(sst ? 0x50 : 0x06)});
        Frame(flash, {0x01, 0x00});
        EXPECT_EQ(WaitReady(flash), c.polls) << c.name;
    }
}

TEST(SimSpiFlash, TheSecondStatusRegisterOfTheTwoRegisterPart) {
    sim::SpiFlash flash(Blank(kFacts[3]));
    EXPECT_EQ(Frame(flash, {0x35, 0}), (Bytes{0xFF, 0x00}));
    // One byte writes register 1 alone, two write both; 0x31 writes register 2.
    WriteStatus(flash, kFacts[3], {0x04});
    EXPECT_EQ(flash.Status(0), 0x04);
    EXPECT_EQ(flash.Status(1), 0x00);
    WriteStatus(flash, kFacts[3], {0x00, 0x42});
    EXPECT_EQ(flash.Status(0), 0x00);
    EXPECT_EQ(flash.Status(1), 0x42);
    Frame(flash, {0x06});
    Frame(flash, {0x31, 0x00});
    WaitReady(flash);
    EXPECT_EQ(flash.Status(1), 0x00);
    // A one-byte status write meant for register 2 lands in register 1.
    WriteStatus(flash, kFacts[3], {0x02});
    EXPECT_EQ(flash.Status(0), 0x00);
    EXPECT_EQ(flash.Status(1), 0x00);
    // The one-time bits stay, SUS and bit 2 are not written; three bytes are too many.
    WriteStatus(flash, kFacts[3], {0x00, 0xBC});
    EXPECT_EQ(flash.Status(1), 0x38);
    WriteStatus(flash, kFacts[3], {0x00, 0x00});
    EXPECT_EQ(flash.Status(1), 0x38);
    WriteStatus(flash, kFacts[3], {0x00, 0x00, 0x00});
    EXPECT_EQ(flash.Record().Count(M::FrameTooLong), 1u);
    for (const Facts& f : kFacts) {
        if (f.statusRegisters == 1) {
            sim::SpiFlash one(Blank(f));
            EXPECT_EQ(Frame(one, {0x35, 0}), (Bytes{0xFF, 0xFF})) << f.name;
        }
    }
}

TEST(SimSpiFlash, WriteEnableLatchOpensOneOperation) {
    for (const Facts& f : kFacts) {
        sim::SpiFlash flash(Blank(f));
        if (f.statusEnable == 0x50)
            WriteStatus(flash, f, {0x00});
        Frame(flash, WithAddress(0x02, 0x100, {0x00}));
        EXPECT_EQ(flash.Record().Count(M::NoWriteEnable), 1u) << f.name;
        EXPECT_EQ(At(flash, 0x100), 0xFF) << f.name;
        Frame(flash, {0x06});
        EXPECT_EQ(Status(flash), 0x02) << f.name;
        Frame(flash, {0x04});
        EXPECT_EQ(Status(flash), 0x00) << f.name;
        Frame(flash, {0x06});
        Frame(flash, WithAddress(0x02, 0x100, {0x00}));
        EXPECT_EQ(Status(flash) & 0x02, 0x02) << f.name << ": still set while busy";
        WaitReady(flash);
        EXPECT_EQ(Status(flash), 0x00) << f.name << ": cleared when the program ended";
        EXPECT_EQ(At(flash, 0x100), 0x00) << f.name;
        Frame(flash, WithAddress(0x02, 0x101, {0x00}));
        EXPECT_EQ(At(flash, 0x101), 0xFF) << f.name << ": one latch, one operation";
    }
}

TEST(SimSpiFlash, ProgrammingOnlyClearsBitsAndEraseFillsByThePartsOwnOpcodes) {
    for (const Facts& f : kFacts) {
        sim::SpiFlash flash(Blank(f));
        if (f.statusEnable == 0x50)
            WriteStatus(flash, f, {0x00});
        const uint32_t a = f.smallestErase + 0x10; // inside the second block
        Program(flash, a, {0x0F});
        Program(flash, a, {0xF5});
        EXPECT_EQ(At(flash, a), 0x05) << f.name;
        Program(flash, a - f.smallestErase, {0x00}); // a byte in the first block
        if (!f.knows20) {
            Erase(flash, 0x20, a);
            EXPECT_EQ(At(flash, a), 0x05) << f.name << ": 0x20 is not an instruction of the part";
            EXPECT_EQ(flash.Record().Count(M::UnknownCommand), 1u) << f.name;
        }
        Frame(flash, {0x06});
        Frame(flash, WithAddress(f.smallestOpcode, a));
        EXPECT_EQ(WaitReady(flash), (f.smallestMicros + 299) / 300) << f.name;
        EXPECT_EQ(At(flash, a), 0xFF) << f.name;
        EXPECT_EQ(At(flash, a - f.smallestErase), 0x00) << f.name << ": the block before stays";
        Program(flash, a, {0x00});
        if (f.erase4k != 0) {
            Erase(flash, f.erase4k, a + 0x0FEF); // any address inside the 4 KB erases all of it
            EXPECT_EQ(At(flash, a), 0xFF) << f.name;
        }
    }
}

TEST(SimSpiFlash, PageProgramWrapsInsideItsPage) {
    for (const Facts& f : kFacts) {
        if (f.aai)
            continue;
        sim::SpiFlash flash(Blank(f));
        Bytes data(10);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(i);
        Program(flash, 0x10FA, data); // 6 bytes fit, 4 wrap to the page's start
        const Bytes& m = flash.Contents();
        EXPECT_EQ(Bytes(m.begin() + 0x10FA, m.begin() + 0x1100), (Bytes{0, 1, 2, 3, 4, 5})) << f.name;
        EXPECT_EQ(Bytes(m.begin() + 0x1000, m.begin() + 0x1005), (Bytes{6, 7, 8, 9, 0xFF})) << f.name;
        EXPECT_EQ(m[0x1100], 0xFF) << f.name;
        EXPECT_EQ(flash.Counters().pageWraps, 1u) << f.name;
        // More than a page: the last 256 bytes are what the page gets.
        Bytes big(300, 0xFF);
        big[0] = 0x00;   // overwritten in the latch by byte 256
        big[256] = 0xA5; // lands at the page's first byte
        Program(flash, 0x2000, big);
        EXPECT_EQ(At(flash, 0x2000), 0xA5) << f.name;
    }
}

TEST(SimSpiFlash, ProtectedBlocksAreNeitherErasedNorProgrammed) {
    for (const Facts& f : kFacts) {
        sim::SpiFlash flash(Blank(f));
        WriteStatus(flash, f, {0x00});
        const uint32_t top = f.size - f.bpOneTop;
        Program(flash, top, {0x00});
        Program(flash, top - 0x1000, {0x00});
        WriteStatus(flash, f, {0x04}); // block-protect value 1: the top block
        EXPECT_TRUE(flash.Protected(top, 1)) << f.name;
        EXPECT_FALSE(flash.Protected(top - 1, 1)) << f.name;
        Erase(flash, f.smallestOpcode, top);
        Program(flash, top + 1, {0x00});
        EXPECT_EQ(At(flash, top), 0x00) << f.name;
        EXPECT_EQ(At(flash, top + 1), 0xFF) << f.name;
        EXPECT_EQ(flash.Record().Count(M::Protected), 2u) << f.name;
        Erase(flash, f.smallestOpcode, top - f.smallestErase);
        EXPECT_EQ(At(flash, top - 0x1000), 0xFF) << f.name << ": below it is free";
        WriteStatus(flash, f, {f.bpAll});
        Program(flash, 0, {0x00});
        Frame(flash, {0x06});
        Frame(flash, {0xC7}); // a chip erase with any block protected does nothing (0x60 on the SST part)
        WaitReady(flash);
        EXPECT_EQ(At(flash, 0), 0xFF) << f.name;
        EXPECT_EQ(At(flash, top), 0x00) << f.name;
        EXPECT_EQ(flash.Record().Count(M::Protected), f.name == std::string("SST25VF010A") ? 3u : 4u)
            << f.name;
    }
}

// W25Q64: TB protects from the bottom, SEC counts in 4 KB sectors (at most 32 KB), CMP protects the rest.
TEST(SimSpiFlash, WinbondProtectionBitsDecodeAsTheTableSays) {
    struct Case {
        uint8_t sr1, sr2;
        uint32_t address;
        bool isProtected;
    } cases[] = {
        {0x04, 0, 0x7F0000, true},     {0x04, 0, 0x7EFFFF, false},   // BP=1: the top 64 KB
        {0x18, 0, 0x600000, true},     {0x18, 0, 0x5FFFFF, false},   // BP=6: the top 1/4 (2 MB)
        {0x24, 0, 0x00FFFF, true},     {0x24, 0, 0x010000, false},   // TB: the bottom 64 KB
        {0x44, 0, 0x7FF000, true},     {0x44, 0, 0x7FEFFF, false},   // SEC: the top 4 KB
        {0x54, 0, 0x7F8000, true},     {0x54, 0, 0x7F7FFF, false},   // SEC, BP=5: 32 KB at most
        {0x1C, 0, 0x000000, true},                                   // BP=7: all
        {0x00, 0x40, 0x000000, true},                                // CMP with no block: all
        {0x04, 0x40, 0x7F0000, false}, {0x04, 0x40, 0x7EFFFF, true}, // CMP: all but the top 64 KB
        {0x1C, 0x40, 0x000000, false},                               // CMP with all: none
    };
    for (const Case& c : cases) {
        sim::SpiFlash flash(Blank(kFacts[3]));
        WriteStatus(flash, kFacts[3], {c.sr1, c.sr2});
        EXPECT_EQ(flash.Protected(c.address, 1), c.isProtected)
            << std::hex << int(c.sr1) << " " << int(c.sr2) << " " << c.address;
    }
}

TEST(SimSpiFlash, LockBitWithWriteProtectPinFreezesTheStatus) {
    for (const Facts& f : kFacts) {
        sim::SpiFlashSettings s = Blank(f);
        s.writeProtectPin = true;
        sim::SpiFlash flash(s);
        WriteStatus(flash, f, {uint8_t(0x80 | f.bpAll)}); // allowed: the lock bit is still clear
        EXPECT_EQ(flash.Status(0) & 0x80, 0x80) << f.name;
        WriteStatus(flash, f, {0x00});
        EXPECT_EQ(flash.Status(0) & ~0x02, 0x80 | f.bpAll) << f.name;
        EXPECT_EQ(flash.Record().Count(M::StatusLocked), 1u) << f.name;
        EXPECT_EQ(flash.WriteEnabled(), f.statusEnable == 0x06)
            << f.name << ": refused, the latch stays as it was";
        // Without the pin the lock bit alone locks nothing.
        sim::SpiFlash free(Blank(f));
        WriteStatus(free, f, {uint8_t(0x80 | f.bpAll)});
        WriteStatus(free, f, {0x00});
        EXPECT_EQ(free.Status(0), 0x00) << f.name;
    }
}

TEST(SimSpiFlash, WinbondLockDownVolatileWritesAndQuadEnable) {
    const Facts& w = kFacts[3];
    sim::SpiFlashSettings pinned = Blank(w);
    pinned.writeProtectPin = true;
    {
        sim::SpiFlash flash(pinned);
        WriteStatus(flash, w, {0x80, 0x02}); // SRP0 with QE: the pin is a data line then
        WriteStatus(flash, w, {0x04, 0x02});
        EXPECT_EQ(flash.Status(0), 0x04);
    }
    {
        sim::SpiFlash flash(Blank(w));
        WriteStatus(flash, w, {0x00, 0x01}); // SRP1 alone: locked until power-down
        WriteStatus(flash, w, {0x04});
        EXPECT_EQ(flash.Status(0), 0x02); // refused: only the latch
        flash.PowerCycle();
        WriteStatus(flash, w, {0x04});
        EXPECT_EQ(flash.Status(0), 0x04);
        EXPECT_EQ(flash.Status(1), 0x00);
    }
    {
        sim::SpiFlash flash(Blank(w));
        Frame(flash, {0x50});
        Frame(flash, {0x01, 0x1C}); // volatile: no latch, no busy time
        EXPECT_EQ(Status(flash), 0x1C);
        flash.PowerCycle();
        EXPECT_EQ(Status(flash), 0x00);
    }
}

TEST(SimSpiFlash, AutoAddressIncrementTakesOneByteAFrame) {
    const Facts& sst = kFacts[0];
    sim::SpiFlash flash(Blank(sst));
    WriteStatus(flash, sst, {0x00});
    Frame(flash, {0x50}); // the part's status enable opens no program
    Frame(flash, WithAddress(0xAF, 0x1000, {0x11}));
    EXPECT_EQ(flash.Record().Count(M::NoWriteEnable), 1u);
    Frame(flash, {0x06});
    Bytes frame = WithAddress(0xAF, 0x1000, Bytes(256, 0x22)); // a page in one frame: one byte of it
    frame[4] = 0x11;
    Frame(flash, frame);
    EXPECT_EQ(Status(flash), 0x43); // AAI, WEL, BUSY
    EXPECT_EQ(Status(flash), 0x42);
    Frame(flash, {0xAF, 0x33});
    WaitReady(flash);
    Frame(flash, WithAddress(0xAF, 0x5000, {0x44})); // later frames take their first byte as data: 0x00
    WaitReady(flash);
    Frame(flash, WithAddress(0x20, 0x1000)); // only 0xAF, 0x05 and 0x04 during the mode
    EXPECT_EQ(flash.Record().Count(M::AaiOnly), 1u);
    Frame(flash, {0x04});
    EXPECT_EQ(Status(flash), 0x00);
    const Bytes& m = flash.Contents();
    EXPECT_EQ(Bytes(m.begin() + 0x1000, m.begin() + 0x1005), (Bytes{0x11, 0x33, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(m[0x5000], 0xFF);
    EXPECT_EQ(flash.Counters().bytesIgnored, 255u + 3u);
    // 0x02 on this part programs one byte.
    Program(flash, 0x2000, {0x12, 0x34});
    EXPECT_EQ(Bytes(m.begin() + 0x2000, m.begin() + 0x2002), (Bytes{0x12, 0xFF}));
}

TEST(SimSpiFlash, MisuseIsRecordedAndChangesNothing) {
    const Facts& w = kFacts[3];
    struct Case {
        const char* name;
        std::vector<Bytes> frames;
        M kind;
    } cases[] = {
        {"erase with two address bytes", {{0x06}, {0x20, 0x00, 0x10}}, M::FrameCutShort},
        {"erase with a byte too many", {{0x06}, {0x20, 0x00, 0x10, 0x00, 0x00}}, M::FrameTooLong},
        {"program with no data", {{0x06}, {0x02, 0x00, 0x10, 0x00}}, M::FrameCutShort},
        {"write enable with a byte more", {{0x06, 0x00}, {0x02, 0x00, 0x10, 0x00, 0x00}}, M::NoWriteEnable},
        {"status write with no byte", {{0x06}, {0x01}}, M::FrameCutShort},
        {"an opcode the part lacks", {{0x06}, {0xD7, 0x00, 0x10, 0x00}}, M::UnknownCommand},
        {"a command while busy",
         {{0x06}, {0x20, 0x00, 0x20, 0x00}, {0x06}, {0x02, 0x00, 0x10, 0x00, 0x00}},
         M::CommandWhileBusy},
    };
    for (const Case& c : cases) {
        sim::SpiFlash flash(Blank(w));
        for (const Bytes& frame : c.frames)
            Frame(flash, frame);
        EXPECT_GE(flash.Record().Count(c.kind), 1u) << c.name;
        EXPECT_EQ(At(flash, 0x1000), 0xFF) << c.name;
        EXPECT_FALSE(flash.Record().First().empty()) << c.name;
    }
    sim::SpiFlash flash(Blank(w));
    EXPECT_EQ(flash.Transfer(0x05), 0xFF); // chip select high: nothing listens
    EXPECT_EQ(flash.Record().Count(M::NotSelected), 1u);
}

TEST(SimSpiFlash, FaultsKeepThePartBusyOrProtected) {
    for (const Facts& f : kFacts) {
        sim::SpiFlashSettings stuck = Blank(f);
        stuck.stuckBusy = true;
        sim::SpiFlash busy(stuck);
        WriteStatus(busy, f, {0x00}); // the first operation never ends
        Frame(busy, {0x06});
        Frame(busy, WithAddress(0x02, 0, {0x00}));
        EXPECT_EQ(Status(busy) & 1, 1) << f.name;
        EXPECT_EQ(At(busy, 0), 0xFF) << f.name;
        EXPECT_GE(busy.Record().Count(M::CommandWhileBusy), 2u) << f.name;

        sim::SpiFlashSettings locked = Blank(f);
        locked.protectAtPowerUp = true;
        locked.writeProtectPin = true;
        sim::SpiFlash flash(locked);
        EXPECT_EQ(flash.Status(0), 0x80 | f.bpAll) << f.name;
        WriteStatus(flash, f, {0x00});
        Erase(flash, f.smallestOpcode, 0);
        Program(flash, 0, {0x00});
        EXPECT_EQ(flash.Status(0) & ~0x02, 0x80 | f.bpAll) << f.name;
        EXPECT_EQ(At(flash, 0), 0xFF) << f.name;
        EXPECT_EQ(flash.Record().Count(M::StatusLocked), 1u) << f.name;
        EXPECT_EQ(flash.Record().Count(M::Protected), 2u) << f.name;
    }
}

TEST(SimSpiFlash, ANewFlashHoldsTheFactoryImageFromAddressZero) {
    sim::SpiFlashSettings s;
    s.part = "Pm25LD040";
    s.factoryVersion = {1, 6, 13};
    sim::SpiFlash flash(s);
    sim::FirmwareVersion version;
    EXPECT_EQ(sim::CheckConfigData(flash.Contents().data(), flash.Contents().size(), version),
              sim::ImageCheck::Ok);
    EXPECT_EQ(version, (sim::FirmwareVersion{1, 6, 13}));
    EXPECT_EQ(flash.Contents()[0x8000], 0xFF);
    EXPECT_EQ(flash.Status(0), 0x00);
}

TEST(SimSpiFlash, TheFileKeepsContentsAndStateAcrossInstancesAndPowerCycles) {
    TempFolder temp;
    for (const Facts& f : kFacts) {
        sim::SpiFlashSettings s = Blank(f);
        s.file = temp.Path() + "/" + f.name + "/flash.bin";
        {
            sim::SpiFlash flash(s);
            Status(flash);
            EXPECT_FALSE(std::filesystem::exists(s.file)) << f.name << ": nothing changed, nothing written";
            WriteStatus(flash, f, {0x00});
            Program(flash, 0x1234, {0x5A});
            WriteStatus(flash, f, {0x04});
            Frame(flash, {0x06}); // the latch is state too
        }
        ASSERT_EQ(ReadFileBytes(s.file).size(), 32 + f.size) << f.name;
        {
            sim::SpiFlash again(s); // another process: no power cycle
            EXPECT_EQ(again.FileNote(), "") << f.name;
            EXPECT_EQ(At(again, 0x1234), 0x5A) << f.name;
            EXPECT_EQ(Status(again), 0x06) << f.name;
            again.PowerCycle();
        }
        sim::SpiFlash restarted(s);
        EXPECT_EQ(At(restarted, 0x1234), 0x5A) << f.name;
        // The SST part's status register is volatile: it powers up protected again.
        EXPECT_EQ(Status(restarted), f.statusEnable == 0x50 ? 0x0C : 0x04) << f.name;
    }
}

TEST(SimSpiFlash, AFileOfAnotherPartOrDamagedStartsANewPartAndSaysWhy) {
    TempFolder temp;
    sim::SpiFlashSettings s = Blank(kFacts[4]);
    s.file = temp.Path() + "/flash.bin";
    {
        sim::SpiFlash flash(s);
        Program(flash, 0, {0x00});
    }
    sim::SpiFlashSettings other = Blank(kFacts[5]);
    other.file = s.file;
    {
        sim::SpiFlash flash(other);
        EXPECT_EQ(
            flash.FileNote(),
            "the flash file holds part 9D 11 of 262144 bytes, not Pm25LD040: the part starts as a new one");
        EXPECT_EQ(At(flash, 0), 0xFF);
        Program(flash, 1, {0x00});
    }
    EXPECT_EQ(ReadFileBytes(s.file).size(), 32u + 0x80000); // rewritten whole for the part it now holds
    std::ofstream(s.file, std::ios::binary | std::ios::trunc) << "garbage";
    sim::SpiFlash damaged(other);
    EXPECT_EQ(damaged.FileNote(), "not a flash file: the part starts as a new one");

    sim::FlashFileContents contents;
    std::string error;
    EXPECT_FALSE(sim::ReadFlashFile(s.file, contents, error));
    EXPECT_FALSE(sim::ReadFlashFile(temp.Path() + "/none.bin", contents, error));
}

TEST(SimSpiFlash, SaveAndLoadOnRequestAndThePowerCycleOfAFile) {
    TempFolder temp;
    const Facts& sst = kFacts[0];
    sim::SpiFlash flash(Blank(sst));
    WriteStatus(flash, sst, {0x00});
    Program(flash, 7, {0x70});
    const std::string saved = temp.Path() + "/saved.bin";
    ASSERT_TRUE(flash.Save(saved));
    sim::SpiFlash loaded(Blank(sst));
    std::string error;
    ASSERT_TRUE(loaded.Load(saved, error)) << error;
    EXPECT_EQ(At(loaded, 7), 0x70);
    EXPECT_EQ(loaded.Status(0), 0x00);
    sim::SpiFlash wrongPart(Blank(kFacts[1]));
    EXPECT_FALSE(wrongPart.Load(saved, error));

    sim::SpiFlashSettings s = Blank(sst);
    s.file = saved;
    ASSERT_TRUE(sim::PowerCycleFlashFile(s, error)) << error;
    sim::SpiFlash after(s);
    EXPECT_EQ(after.Status(0), 0x0C);
    EXPECT_EQ(At(after, 7), 0x70);
    s.file = temp.Path() + "/never-written.bin";
    EXPECT_TRUE(sim::PowerCycleFlashFile(s, error));
    EXPECT_FALSE(std::filesystem::exists(s.file));
}

} // namespace
