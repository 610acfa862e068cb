// The bus test of the cards' own engines against fake cards: the slaves' agreement, the 512 reads, the
// speed stepping 800 -> 600 -> 400 that stays in force for later cards, and the speed given on the command
// line, which skips the 512 reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "app/stages/BusTest.h"

namespace {

// A card whose 0xD0 answers a version block; reads at or above `misreadFromKhz` go wrong every 100th
// time; a slave may answer another version or not at all.
struct FakeCard : CI2cPort {
    uint32_t misreadFromKhz = 0;
    uint32_t silentSlave = 0, otherSlave = 0;
    uint32_t reads = 0, acquires = 0, releases = 0;
    std::vector<uint32_t> acquiredAt;
    int I2cRead(uint32_t slave, uint32_t width, uint32_t sub, uint32_t count,
                unsigned char* buffer) override {
        EXPECT_EQ(width, 2u);
        EXPECT_EQ(sub, 4u);
        EXPECT_EQ(count, 4u);
        EXPECT_EQ(acquires, releases + 1) << "a read outside acquire and release";
        if (slave == silentSlave)
            return 0;
        const unsigned char block[4] = {3, 13, 6, static_cast<unsigned char>(slave == otherSlave ? 2 : 1)};
        std::memcpy(buffer, block, 4);
        if (misreadFromKhz != 0 && I2cSettings().SpeedKhz() >= misreadFromKhz && ++reads % 100 == 0)
            buffer[2] ^= 1;
        return 1;
    }
    int I2cWrite(uint32_t, uint32_t, uint32_t, uint32_t, const unsigned char*) override { return 0; }
    int I2cEngineAcquire() override {
        acquiredAt.push_back(I2cSettings().SpeedKhz());
        ++acquires;
        return 1;
    }
    int I2cEngineRelease() override {
        ++releases;
        return 1;
    }
};

TEST(BusTest, SpeedSteppingAndSlaveAgreement) {
    struct Case {
        const char* name;
        std::vector<FakeCard> cards;
        bool speedGiven;
        bool pass;
        uint32_t speedAfter;
        std::vector<std::vector<uint32_t>> acquiredAt; // per card
    };
    FakeCard good;
    FakeCard at800 = good, at500 = good, always = good, d2Other = good, d4Silent = good, d0Silent = good;
    at800.misreadFromKhz = 700;
    at500.misreadFromKhz = 500;
    always.misreadFromKhz = 1;
    d2Other.otherSlave = 0xD2;
    d4Silent.silentSlave = 0xD4;
    d0Silent.silentSlave = 0xD0;
    const Case cases[] = {
        {"all agree", {good, good}, false, true, 800, {{800}, {800}}},
        {"misreads at 800: 600", {at800}, false, true, 600, {{800, 600}}},
        {"misreads at 600: 400", {at500}, false, true, 400, {{800, 600, 400}}},
        {"misreads at 400: fails", {always, good}, false, false, 400, {{800, 600, 400}, {}}},
        {"lowered speed stays for the next card", {at800, at500}, false, true, 400, {{800, 600}, {600, 400}}},
        {"0xD2 shows another version", {d2Other, good}, false, false, 800, {{800}, {}}},
        {"0xD4 does not answer", {d4Silent}, false, false, 800, {{800}}},
        {"0xD0 does not answer: nothing decided on unread bytes", {d0Silent}, false, false, 800, {{800}}},
        {"speed given: no 512 reads", {always, always}, true, true, 800, {{800}, {800}}},
        {"speed given: slaves still checked", {d2Other}, true, false, 800, {{800}}},
    };
    for (const Case& c : cases) {
        I2cSettings().speedKhz = 800;
        std::vector<FakeCard> cards = c.cards;
        std::vector<CI2cPort*> ports;
        for (FakeCard& card : cards)
            ports.push_back(&card);
        EXPECT_EQ(TestCardBuses(ports, c.speedGiven), c.pass) << c.name;
        EXPECT_EQ(I2cSettings().SpeedKhz(), c.speedAfter) << c.name;
        for (size_t i = 0; i < cards.size(); ++i) {
            EXPECT_EQ(cards[i].acquiredAt, c.acquiredAt[i]) << c.name << " card " << i;
            EXPECT_EQ(cards[i].acquires, cards[i].releases) << c.name << " card " << i << " left acquired";
        }
    }
    I2cSettings().speedKhz = kDefaultI2cSpeedKhz;
}

} // namespace
