#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "ExternalDeviceLayer/PciScan.h"

namespace {

// A bus of PCI functions with configuration space as dwords, reported in insertion order.
class FakeBus : public CHwAccess {
public:
    struct Function {
        uint32_t hPci;
        std::map<uint32_t, uint32_t> config;
        std::map<uint32_t, uint32_t> unaligned; // what a service of another kind returns at such an offset
    };
    Function& Add(uint32_t hPci, uint32_t id, uint32_t subsystem) {
        functions.push_back({hPci, {{0x00, id}, {0x2C, subsystem}, {0x04, 0x00100000}, {0xE0, 0xF3}}, {}});
        return functions.back();
    }
    Function* Find(uint32_t hPci) {
        for (Function& f : functions) {
            if (f.hPci == hPci)
                return &f;
        }
        return nullptr;
    }
    uint32_t HwReadConfig(uint32_t hPci, uint32_t offset, uint32_t* value) override {
        Function* f = Find(hPci);
        if (!f || failReads)
            return 0;
        if (f->unaligned.count(offset)) {
            *value = f->unaligned[offset];
            return 1;
        }
        // An unaligned read takes the dword it falls in, shifted, as some services do.
        const uint32_t aligned = offset & ~3u;
        const uint32_t v = f->config.count(aligned) ? f->config[aligned] : 0;
        *value = v >> (8 * (offset & 3));
        return 1;
    }
    uint32_t HwWriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) override {
        Function* f = Find(hPci);
        if (f)
            f->config[offset] = value;
        return 1;
    }
    uint32_t HwReadMem(uintptr_t, uint32_t, uint32_t*) override { return 0; }
    uint32_t HwWriteMem(uintptr_t, uint32_t, uint32_t) override { return 0; }
    uintptr_t HwMapMem(uint32_t low, uint32_t high, uint32_t length, uint32_t flags) override {
        maps.push_back({low, high, length, flags});
        const uint64_t physical = (uint64_t{high} << 32) | low;
        return failMapAt.count(physical) ? 0 : static_cast<uintptr_t>(0x5000 + maps.size());
    }
    uint32_t HwUnmapMem(uintptr_t base) override {
        unmapped.push_back(base);
        return 1;
    }
    uint32_t HwScanBus(VskPciScanCallback callback, void* context) override {
        for (const Function& f : functions)
            EXPECT_EQ(callback(f.hPci, context), 0u);
        return 1;
    }
    struct Map {
        uint32_t low, high, length, flags;
    };
    std::vector<Function> functions;
    std::vector<Map> maps;
    std::vector<uintptr_t> unmapped;
    std::map<uint64_t, bool> failMapAt;
    bool failReads = false;
};

constexpr uint32_t kCard = CPciScan::kCardId;
constexpr uint32_t kSub = CPciScan::kCardSubsystem;

TEST(PciScan, OnlyRightDeviceWithRightSubsystemIsACardInBusOrder) {
    FakeBus bus;
    bus.Add(0x0010, 0x3E928086, 0x86941028); // another display adapter
    bus.Add(0x0400, kCard, kSub).config[0x14] = 0xE0000000;
    bus.Add(0x0401, 0xAAF01002, kSub);  // the audio function of the same device
    bus.Add(0x0300, kCard, 0x12345678); // right device, wrong subsystem
    bus.Add(0x00010308 | 0x0300, kCard, kSub).config[0x14] = 0xD00000FF; // bus 3, device 1, function 0
    CPciScan scan(bus);
    ASSERT_TRUE(scan.Scan());
    ASSERT_EQ(scan.count, 2);
    const tagPciInfo& a = (*scan.records)[0];
    const tagPciInfo& b = (*scan.records)[1];
    EXPECT_EQ(a.hPci, 0x0400u);
    EXPECT_EQ(a.bus, 4u);
    EXPECT_EQ(a.index, 0u);
    EXPECT_EQ(b.hPci, 0x00010308u | 0x0300u);
    EXPECT_EQ(b.bus, 3u);
    EXPECT_EQ(b.device, 1u);
    EXPECT_EQ(b.function, 0u);
    EXPECT_EQ(b.index, 1u);
    EXPECT_EQ(b.vendorId, 0x1002);
    EXPECT_EQ(b.deviceId, 0x6828);
    EXPECT_EQ(b.subsystem, kSub);
    ASSERT_EQ(bus.maps.size(), 2u);
    EXPECT_EQ(bus.maps[1].low, 0xD0000000u); // the low eight bits are never part of the address
    EXPECT_EQ(bus.maps[1].length, 0x10000u);
    // Each card gets memory decoding switched on and bits 1..0 of 0xE0 cleared; other functions are left.
    EXPECT_EQ(bus.Find(0x0400)->config[0x04], 0x00100002u);
    EXPECT_EQ(bus.Find(0x0400)->config[0xE0], 0xF0u);
    EXPECT_EQ(bus.Find(0x0300)->config[0x04], 0x00100000u);
}

TEST(PciScan, RevisionAndWord2AreKeptAsTheServiceReadsThem) {
    struct Case {
        const char* service;
        uint32_t atOffset2; // 0: the service shifts the dword the offset falls in
        uint32_t classRevision;
        uint8_t revision;
        uint16_t word2;
    };
    const Case cases[] = {
        {"shifts an unaligned read", 0, 0x030000C5, 0xC5, 0x0000},
        {"reads 32 bits from offset 2", 0xBEEF6828, 0x03000001, 0x01, 0xBEEF},
        {"reads the dword offset 2 falls in", kCard, 0x0300007F, 0x7F, 0x6828},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.service);
        FakeBus bus;
        FakeBus::Function& card = bus.Add(0x0300, kCard, kSub);
        card.config[0x08] = c.classRevision;
        if (c.atOffset2 != 0)
            card.unaligned[0x02] = c.atOffset2;
        CPciScan scan(bus);
        ASSERT_TRUE(scan.Scan());
        EXPECT_EQ((*scan.records)[0].revision, c.revision);
        EXPECT_EQ((*scan.records)[0].word2, c.word2);
        EXPECT_EQ((*scan.records)[0].deviceId, 0x6828);
    }
}

TEST(PciScan, RegisterWindowComesFromTheRightBar) {
    struct Case {
        const char* name;
        uint32_t bar0, bar1, bar2, bar3;
        uint32_t low, high;
    };
    const Case cases[] = {
        {"32-bit BAR0: window at 0x14", 0xC0000000, 0xF7E00004, 0, 0, 0xF7E00000, 0},
        {"64-bit BAR0: window at 0x18/0x1C", 0xC000000C, 0x00000001, 0xFE8000A4, 0x00000000, 0xFE800000, 0},
        {"window above 4 GB", 0x0000000C, 0x00000020, 0x80000004, 0x00000003, 0x80000000, 3},
        {"I/O-looking BAR0 bits 01b is not 64-bit", 0x00000002, 0xF0000000, 0, 0, 0xF0000000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBus bus;
        auto& f = bus.Add(0x0100, kCard, kSub);
        f.config[0x10] = c.bar0;
        f.config[0x14] = c.bar1;
        f.config[0x18] = c.bar2;
        f.config[0x1C] = c.bar3;
        CPciScan scan(bus);
        scan.Scan();
        ASSERT_EQ(bus.maps.size(), 1u);
        EXPECT_EQ(bus.maps[0].low, c.low);
        EXPECT_EQ(bus.maps[0].high, c.high);
        EXPECT_EQ(bus.maps[0].flags, 0u);
    }
}

TEST(PciScan, UnmappedCardStaysListedAndOnlyMappedWindowsAreUnmapped) {
    FakeBus bus;
    bus.Add(0x0100, kCard, kSub).config[0x14] = 0xA0000000;
    bus.Add(0x0200, kCard, kSub).config[0x14] = 0xB0000000;
    bus.failMapAt[0xA0000000] = true;
    {
        CPciScan scan(bus);
        ASSERT_EQ(scan.Scan(), true);
        ASSERT_EQ(scan.count, 2);
        EXPECT_EQ((*scan.records)[0].regBase, 0u);
        EXPECT_NE((*scan.records)[1].regBase, 0u);
    }
    EXPECT_EQ(bus.unmapped, std::vector<uintptr_t>{0x5002});
}

TEST(PciScan, NothingFoundWhenReadsFailOrNoContext) {
    FakeBus bus;
    bus.Add(0x0100, kCard, kSub);
    bus.failReads = true;
    CPciScan scan(bus);
    EXPECT_FALSE(scan.Scan());
    EXPECT_EQ(scan.count, 0);
    EXPECT_TRUE(bus.maps.empty());
    EXPECT_EQ(CPciScan::Probe(0x0100, nullptr), 0u);
}

} // namespace
