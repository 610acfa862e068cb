// The simulated PCI bus and cards: configuration space, window mapping (also above 4 GB and when it fails),
// the register window, and the trace lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fakes/TempFolder.h"
#include "sim/PciBus.h"

namespace {

// The default machine with two cards (03:00.0 at 0xFE800000, 04:00.0 moved above 4 GB), the second one's
// audio function and a right device with a wrong subsystem at 05:00.0 whose mapping is made to fail.
sim::MachineDescription Machine() {
    sim::MachineDescription m = sim::DefaultMachine(2);
    m.pci[4].SetRegisterWindow(0x3FFE600000ull, true);
    sim::PciFunction odd = sim::Q740Card(5, 0xFE400000u);
    odd.subsystem = 0x12345678;
    odd.mapFails = true;
    m.pci.push_back(odd);
    return m;
}

class SimCard : public ::testing::Test {
protected:
    SimCard() : machine_(Machine()), bus_(machine_, temp_.Path(), nullptr) {}
    uint32_t Config(uint32_t handle, uint32_t offset) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(bus_.ReadConfig(handle, offset, value)) << offset;
        return value;
    }
    TempFolder temp_;
    sim::MachineDescription machine_;
    sim::PciBus bus_;
};

constexpr uint32_t kCard = 0x0300, kAudio = 0x0301, kHost = 0x0000;

TEST_F(SimCard, FunctionsComeInBusOrderWithTheirHandles) {
    std::vector<uint32_t> handles;
    for (size_t i = 0; i < bus_.FunctionCount(); ++i)
        handles.push_back(bus_.HandleAt(i));
    EXPECT_EQ(handles, (std::vector<uint32_t>{0x0000, 0x0010, 0x0300, 0x0301, 0x0400, 0x0401, 0x0500}));
    EXPECT_EQ(bus_.CardCount(), 3);
}

TEST_F(SimCard, ConfigurationReadsAlignedAndUnaligned) {
    struct Case {
        uint32_t handle, offset, value;
    } cases[] = {
        {kCard, 0x00, 0x68281002}, {kCard, 0x02, 0x00006828},  {kCard, 0x03, 0x00000068},
        {kCard, 0x2C, 0x4D17E6A2}, {kCard, 0x2E, 0x00004D17},  {kCard, 0x08, 0x03000000},
        {kCard, 0x10, 0x9800000C}, {kCard, 0x18, 0xFE800004},  {kCard, 0xFF, 0},
        {0x0400, 0x1C, 0x3F},      {kAudio, 0x00, 0xAAB01002}, {kAudio, 0x2C, 0x4D17E6A2},
        {kHost, 0x00, 0x3EC28086}, {0x0500, 0x2C, 0x12345678},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Config(c.handle, c.offset), c.value) << std::hex << c.handle << " " << c.offset;
    uint32_t untouched = 7;
    EXPECT_FALSE(bus_.ReadConfig(0x0600, 0, untouched)); // nothing there
    EXPECT_FALSE(bus_.ReadConfig(kCard, 0x100, untouched));
    EXPECT_EQ(untouched, 7u);
}

TEST_F(SimCard, ConfigurationWritesKeepOnlyCommandAndE0) {
    struct Case {
        uint32_t offset, written, readBack;
    } cases[] = {
        {0x04, 0xFFFF0006, 0x00100006},                                 // command kept, status stays
        {0xE0, 0x12345678, 0x12345678}, {0x10, 0xFFFFFFFF, 0x9800000C}, // BARs read back as described
        {0x00, 0, 0x68281002},          {0x06, 0xFFFF, 0x00100006},     // unaligned writes are ignored
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(bus_.WriteConfig(kCard, c.offset, c.written));
        EXPECT_EQ(Config(kCard, c.offset & ~3u), c.readBack) << std::hex << c.offset;
    }
    EXPECT_EQ(Config(0x0400, 0x04), 0x00100000u); // the other card is its own
}

TEST_F(SimCard, MappingNeedsTheFullAddressAndTheWindowLength) {
    struct Case {
        uint64_t address;
        uint32_t length;
        uintptr_t base;
    } cases[] = {
        {0xFE800000, 0x10000, 0x10000000}, {0x3FFE600000, 0x10000, 0x10010000},
        {0xFE600000, 0x10000, 0}, // the high window's low half alone is unknown
        {0xFE800000, 0x1000, 0},           {0xFE800100, 0x10000, 0},
        {0xFE400000, 0x10000, 0},          // map = fail
        {0xE0000000, 0x10000, 0},          // the on-board display adapter has no card model
        {0xFE800000, 0x10000, 0x10000000}, // again: the same base
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bus_.Map(c.address, c.length, 0), c.base) << std::hex << c.address;
        EXPECT_EQ(bus_.LastMapRequest(), c.address);
    }
    EXPECT_TRUE(bus_.Mapped(0));
    EXPECT_TRUE(bus_.Mapped(1));
    EXPECT_FALSE(bus_.Mapped(2));
    EXPECT_TRUE(bus_.Unmap(0x10010000));
    EXPECT_FALSE(bus_.Unmap(0x10010000));
    uint32_t value = 5;
    EXPECT_FALSE(bus_.ReadMem(0x10010000, 0, value));
    EXPECT_FALSE(bus_.ReadMem(0x10020000, 0, value)); // the failed card
    EXPECT_FALSE(bus_.WriteMem(0x0FFF0000, 0, 1));
    EXPECT_EQ(value, 5u);
}

TEST_F(SimCard, RegisterWindowIsMemoryOutsideTheGpioGroupOnceDecodingIsOn) {
    const uintptr_t base = bus_.Map(0xFE800000, 0x10000, 0);
    uint32_t value = 0;
    ASSERT_TRUE(bus_.ReadMem(base, 0x60D0, value));
    EXPECT_EQ(value, 0xFFFFFFFFu); // decoding still off
    EXPECT_EQ(bus_.Record(0).Misuse(sim::CardMisuse::DecodingOff), 1u);
    bus_.WriteConfig(kCard, 0x04, 0x2);
    struct Case {
        uint32_t offset, written, readBack;
    } cases[] = {
        {0x0000, 0x11111111, 0x11111111}, {0xFFFC, 0xCAFEF00D, 0xCAFEF00D}, {0x60E0, 0xA5, 0xA5},
        {0x1798, 0xFFFFFFFF, 0xFFFFFFFF}, {0x17A4, 0x12345678, 0x00000007}, // input: TDO and pulled-up 1, 2
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(bus_.WriteMem(base, c.offset, c.written));
        ASSERT_TRUE(bus_.ReadMem(base, c.offset, value));
        EXPECT_EQ(value, c.readBack) << std::hex << c.offset;
    }
    ASSERT_TRUE(bus_.ReadMem(base, 0x4000, value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(bus_.ReadMem(base, 0xFFFE, value)); // past the end: refused by the card, recorded
    EXPECT_EQ(bus_.Record(0).Misuse(sim::CardMisuse::BadAccess), 1u);
}

TEST(SimCardTrace, CardFileAndSharedFileGetEveryEventAsText) {
    TempFolder temp;
    sim::MachineDescription m = sim::DefaultMachine(2);
    m.pci[2].tracePath = "C:\\card0.txt"; // into the machine folder
    const std::string shared = temp.Path() + "/all.txt";
    {
        sim::PciBus bus(m, temp.Path(), nullptr, shared);
        bus.WriteConfig(0x0300, 0x04, 0x2);
        bus.WriteConfig(0x0400, 0x04, 0x2);
        const uintptr_t base = bus.Map(0xFE800000, 0x10000, 0);
        bus.WriteMem(base, 0x1798, 0x20003827);
        bus.WriteMem(base, 0x17A0, 0x20003820);
        bus.WriteMem(base, 0x179C, 0x20000020);
        uint32_t v = 0;
        bus.ReadMem(base, 0x17A4, v);
        bus.Map(0xFE600000, 0x1000, 0);
        bus.FlushTraces();
    }
    EXPECT_EQ(ReadFileText(temp.Path() + "/C/card0.txt"),
              "config-write 0x04 0x00000002\n"
              "map 0x00000000FE800000 0x10000 flags 0x0 -> 0x10000000\n"
              "write 0x1798 0x20003827\n"
              "write 0x17A0 0x20003820\n"
              "write 0x179C 0x20000020\n"
              "tck tms=1 tdi=0 tdo=1 Test-Logic-Reset\n"
              "read 0x17A4 0x00000007\n");
    const std::string all = ReadFileText(shared);
    EXPECT_NE(all.find("03:00.0 tck tms=1 tdi=0 tdo=1 Test-Logic-Reset\n"), std::string::npos) << all;
    EXPECT_NE(all.find("03:00.0 config-write 0x04 0x00000002\n"
                       "04:00.0 config-write 0x04 0x00000002\n"
                       "03:00.0 map 0x00000000FE800000 0x10000 flags 0x0 -> 0x10000000\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("04:00.0 map 0x00000000FE600000 0x1000 flags 0x0 -> 0x00000000\n"), std::string::npos);
}

} // namespace
