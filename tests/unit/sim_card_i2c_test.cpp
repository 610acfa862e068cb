// The card's own I2C engine as the program drives it, against the simulated card with its I2C side wired
// in: the version read gives the card's running version, and each fault switch of the description shows
// as the program would see it.
#include <gtest/gtest.h>

#include <string>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "fakes/TempFolder.h"
#include "sim/CardI2c.h"
#include "sim/PciBus.h"
#include "update/QSeries.h"

namespace {

// The program's register seam over the simulated bus.
struct SimBus : RegisterBus {
    explicit SimBus(sim::PciBus& bus) : bus_(bus) {}
    uint32_t ReadMem(uintptr_t base, uint32_t offset) override {
        uint32_t value = 0;
        bus_.ReadMem(base, offset, value);
        return value;
    }
    void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) override {
        bus_.WriteMem(base, offset, value);
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}
    sim::PciBus& bus_;
};

struct Probe {
    std::wstring version;
    bool allows;
    int d2Read;
    uint8_t d2Bytes[4];
};

Probe ReadThroughCard(const sim::KeyValues& keys, uint32_t speedKhz = 800) {
    TempFolder temp;
    sim::MachineDescription m = sim::DefaultMachine(1);
    for (auto& f : m.pci)
        if (f.kind == sim::FunctionKind::Q740)
            f.extra = keys;
    sim::PciBus pci(m, temp.Path(), nullptr);
    pci.WriteConfig(0x0300, 0x04, 0x2);
    SimBus bus(pci);
    tagDeviceUpdate job;
    job.regBase = pci.Map(0xFE800000, 0x10000, 0);
    job.settleCount = 0;
    CQSeries card(bus);
    card.job = &job;
    const uint32_t oldSpeed = I2cSettings().speedKhz.exchange(speedKhz);
    const FpgaVersion v = card.GetFpgaVersion();
    Probe p{v.text, v.allowsFlashImage, 0, {0xEE, 0xEE, 0xEE, 0xEE}};
    card.I2cEngineAcquire();
    p.d2Read = card.I2cRead(0xD2, 2, 4, 4, p.d2Bytes);
    card.I2cEngineRelease();
    I2cSettings().speedKhz = oldSpeed;
    return p;
}

TEST(SimCardI2c, VersionReadAndFaultsAsTheProgramSeesThem) {
    struct Case {
        sim::KeyValues keys;
        std::wstring version;
        bool allows;
        int d2Read;
    };
    const Case cases[] = {
        {{}, L"1.6.10", false, 1},
        {{{"fpga-version", "1.6.13"}}, L"1.6.13", true, 1},
        // The engine's done bit is all the program looks at, so a slave that does not answer reads as the
        // released data line: all ones, which is no version the flash image allows.
        {{{"fpga-version", "2.0.1"}, {"i2c-silent", "D2"}}, L"2.0.1", true, 1},
        {{{"fpga-version", "1.6.13"}, {"i2c-silent", "d0"}}, L"255.255.255", false, 1},
        {{{"fpga-version", "0.0.0"}}, L"255.255.255", false, 1}, // unconfigured: nobody answers
        {{{"fpga-version", "1.6.13"}, {"i2c-never-done", "1"}}, L"0.0.000", false, 0},
    };
    for (const Case& c : cases) {
        const Probe p = ReadThroughCard(c.keys);
        std::string name;
        for (const auto& kv : c.keys)
            name += kv.first + "=" + kv.second + " ";
        EXPECT_EQ(p.version, c.version) << name;
        EXPECT_EQ(p.allows, c.allows) << name;
        EXPECT_EQ(p.d2Read, c.d2Read) << name;
    }
}

TEST(SimCardI2c, TwoByteSubAddressReadShowsTheVersionBlockAfterItsCount) {
    const Probe p = ReadThroughCard({{"fpga-version", "1.7.2"}});
    EXPECT_EQ(p.d2Bytes[0], 3);
    EXPECT_EQ(p.d2Bytes[1], 2);
    EXPECT_EQ(p.d2Bytes[2], 7);
    EXPECT_EQ(p.d2Bytes[3], 1);
}

TEST(SimCardI2c, BadKeysAreReportedAndKeepTheirDefaults) {
    const std::pair<const char*, const char*> bad[] = {
        {"i2c-silent", "D6"}, {"i2c-misread-khz", "fast"}, {"flash-part", "NoSuchPart"}};
    for (const auto& [key, value] : bad) {
        sim::PciFunction f = sim::Q740Card(3, 0xFE800000u);
        f.extra = {{key, value}};
        sim::CardI2cSettings settings;
        std::string error;
        EXPECT_FALSE(sim::ReadCardI2cSettings(f, "/nonexistent", 0, settings, error)) << key;
        EXPECT_EQ(error, std::string("[pci] 03:00.0: bad value of ") + key);
    }
}

} // namespace
namespace {
TEST(SimCardI2cSettings, SilentSlavesByAddress) {
    sim::PciFunction f = sim::Q740Card(3, 0xFE800000u);
    f.extra = {{"i2c-silent", "d0; 0xD4"}, {"i2c-misread-khz", "700"}};
    sim::CardI2cSettings settings;
    std::string error;
    EXPECT_TRUE(sim::ReadCardI2cSettings(f, "/nonexistent", 0, settings, error)) << error;
    EXPECT_TRUE(settings.fpga.silent[0]);
    EXPECT_FALSE(settings.fpga.silent[1]);
    EXPECT_TRUE(settings.fpga.silent[2]);
    EXPECT_EQ(settings.bus.misreadFromKhz, 700u);
}
} // namespace
