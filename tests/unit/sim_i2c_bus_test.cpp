// The simulated I2C bus: addressing with the read bit, acknowledges both ways, repeated start, the hooks a
// slave sees, misuse, the clock count per transaction, the misread fault and the trace line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/RecordingI2cSlave.h"
#include "fakes/TempFolder.h"
#include "sim/I2cBus.h"

namespace {

// Runs "S", "P", "Wxx" and "R+" / "R-" (read, answering with acknowledge or not) on the bus and returns
// what each byte gave: "A" / "N" for writes, the byte for reads.
std::string Drive(sim::I2cBus& bus, const std::string& script) {
    std::istringstream in(script);
    std::string op, result;
    while (in >> op) {
        std::string got;
        if (op == "S")
            bus.Start();
        else if (op == "P")
            bus.Stop();
        else if (op[0] == 'W')
            got = bus.Write(uint8_t(std::stoul(op.substr(1), nullptr, 16))) ? "A" : "N";
        else if (op[0] == 'R') {
            char t[4];
            std::snprintf(t, sizeof t, "%02X", bus.Read(op[1] == '+'));
            got = t;
        }
        if (!got.empty())
            result += (result.empty() ? "" : " ") + got;
    }
    return result;
}

// Each script: what the master got, what each slave saw, the clocks, and the misuse recorded (kind, count).
TEST(SimI2cBus, WireEventsReachTheAddressedSlaveOnly) {
    using K = sim::I2cBusMisuse;
    struct Case {
        const char* script;
        const char* results;
        const char* slaveA0; // what the slave at 0xA0 saw
        const char* slaveC0; // ... at 0xC0
        uint64_t clocks;
        K kind;
        uint64_t misuse;
    } cases[] = {
        {"S WA0 W01 W02 P", "A A A", "w <01 <02 P", "", 1 + 27 + 1, K::NoStart, 0},
        {"S WA1 R+ R- P", "A 10 11", "r >10 >11 P", "", 1 + 27 + 1, K::NoStart, 0},
        {"S WA0 W05 S WA1 R- P", "A A A 10", "w <05 r >10 P", "", 1 + 18 + 1 + 18 + 1, K::NoStart, 0},
        {"S WA0 W05 S WC1 R- P", "A A A 20", "w <05 P", "r >20 P", 1 + 18 + 1 + 18 + 1, K::NoStart, 0},
        // The slave refuses 0xEE; the master goes on.
        {"S WA0 WEE W01 P", "A N A", "w <EE <01 P", "", 1 + 27 + 1, K::NoStart, 0},
        {"S WB0 W01 W02 P", "N N N", "", "", 1 + 27 + 1, K::NoSlave, 2}, // nobody at 0xB0
        {"S WB1 R- P", "N FF", "", "", 1 + 18 + 1, K::NoSlave, 1},
        {"W12 R+", "N FF", "", "", 18, K::NoStart, 2},
        {"S WA1 R- R+ R+ P", "A 10 FF FF", "r >10 P", "", 1 + 36 + 1, K::AfterMasterNack, 2},
        {"S WA1 W00 P", "A N", "r P", "", 1 + 18 + 1, K::WrongDirection, 1},
        {"S WA0 R+ P", "A FF", "w P", "", 1 + 18 + 1, K::WrongDirection, 1},
        {"S R+ P", "FF", "", "", 1 + 9 + 1, K::NoAddress, 1},
        {"P P", "", "", "", 2, K::NoStart, 0}, // a stop on an idle bus is a clock and nothing else
    };
    for (const Case& c : cases) {
        sim::I2cBus bus;
        RecordingI2cSlave a0, c0(0x20);
        a0.nackByte = 0xEE;
        bus.Attach(0xA0, &a0);
        bus.Attach(0xC1, &c0); // the read bit of an attach address does not matter
        EXPECT_EQ(Drive(bus, c.script), c.results) << c.script;
        EXPECT_EQ(a0.log, c.slaveA0) << c.script;
        EXPECT_EQ(c0.log, c.slaveC0) << c.script;
        EXPECT_EQ(bus.Counters().clocks, c.clocks) << c.script;
        EXPECT_EQ(bus.Record().Count(c.kind), c.misuse) << c.script;
        EXPECT_EQ(bus.Record().Total(), c.misuse) << c.script;
    }
}

TEST(SimI2cBus, CountersAddUpAcrossTransactionsWithBusTime) {
    sim::I2cBus bus;
    RecordingI2cSlave a0;
    bus.Attach(0xA0, &a0);
    bus.SetSpeedHz(400000);
    // A one-byte register write with a two-byte sub-address, then a one-byte read of it: 38 + 48 clocks.
    Drive(bus, "S WA0 W00 W34 W01 P");
    Drive(bus, "S WA0 W00 W36 S WA1 R- P");
    Drive(bus, "S WB0 P"); // unanswered
    const sim::I2cBusCounters& n = bus.Counters();
    EXPECT_EQ(n.clocks, 38u + 48u + 11u);
    EXPECT_EQ(n.transactions, 3u);
    EXPECT_EQ(n.repeatedStarts, 1u);
    EXPECT_EQ(n.stops, 3u);
    EXPECT_EQ(n.bytesWritten, 4u + 4u + 1u);
    EXPECT_EQ(n.bytesRead, 1u);
    EXPECT_EQ(n.nacks, 1u);
    EXPECT_NEAR(n.seconds, 97.0 / 400000, 1e-12);
}

TEST(SimI2cBus, WholeTransfersAsADisplayDriverMakesThem) {
    sim::I2cBus bus;
    RecordingI2cSlave a0;
    bus.Attach(0xA0, &a0);
    const uint8_t out[] = {0x00, 0x04};
    uint8_t in[3] = {};
    EXPECT_TRUE(bus.WriteTransfer(0xA1, out, 2)); // the read bit is cleared for a write
    EXPECT_TRUE(bus.ReadTransfer(0xA0, in, 3));
    EXPECT_EQ(a0.log, "w <00 <04 P r >10 >11 >12 P");
    EXPECT_EQ(std::vector<uint8_t>(in, in + 3), (std::vector<uint8_t>{0x10, 0x11, 0x12}));
    EXPECT_FALSE(bus.WriteTransfer(0xB0, out, 2));
    EXPECT_FALSE(bus.ReadTransfer(0xB0, in, 3));
    EXPECT_EQ(in[0], 0x10); // an unanswered read leaves the buffer alone
}

// A slave that always answers the same three bytes, as a version register does.
class ConstantSlave : public sim::I2cSlave {
public:
    bool Start(bool) override {
        at_ = 0;
        return true;
    }
    bool Send(uint8_t) override { return true; }
    uint8_t Recv() override { return kBytes[at_++ % 3]; }
    void Stop() override {}
    static constexpr uint8_t kBytes[3] = {13, 6, 1};

private:
    unsigned at_ = 0;
};

// 512 reads compared with the first, as a bus test does: they disagree at or above the fault's speed.
TEST(SimI2cBus, MisreadFaultSpoilsRepeatedReadsAtOrAboveItsSpeedOnly) {
    struct Case {
        uint32_t fromKhz, speedHz;
        bool disagree;
    } cases[] = {
        {0, 794117, false},   {700, 794117, true}, {700, 586956, false}, {500, 586956, true},
        {500, 397058, false}, {50, 50000, true},   {795, 794117, false},
    };
    for (const Case& c : cases) {
        sim::I2cBusSettings settings;
        settings.misreadFromKhz = c.fromKhz;
        sim::I2cBus bus(settings);
        ConstantSlave slave;
        bus.Attach(0xD0, &slave);
        bus.SetSpeedHz(c.speedHz);
        uint8_t first[3] = {}, again[3] = {};
        ASSERT_TRUE(bus.ReadTransfer(0xD0, first, 3));
        bool disagree = false;
        for (int i = 0; i < 512 && !disagree; ++i) {
            ASSERT_TRUE(bus.ReadTransfer(0xD0, again, 3));
            disagree = !std::equal(first, first + 3, again);
        }
        EXPECT_EQ(disagree, c.disagree) << c.fromKhz << " " << c.speedHz;
        EXPECT_EQ(std::vector<uint8_t>(first, first + 3), (std::vector<uint8_t>{13, 6, 1}))
            << "a single read is mostly right: " << c.fromKhz;
    }
}

TEST(SimI2cBus, TraceHasOneLinePerTransactionWithLongOnesCut) {
    TempFolder temp;
    const std::string path = temp.Path() + "/trace.txt";
    {
        sim::Trace trace;
        trace.Add(sim::TraceFile::Open(path), "");
        sim::I2cBus bus;
        RecordingI2cSlave a0;
        bus.Attach(0xA0, &a0);
        bus.SetTrace(&trace);
        bus.SetSpeedHz(794117);
        Drive(bus, "S WA0 W04 S WA1 R+ R- P");
        Drive(bus, "S WB0 P");
        std::string many = "S WA0";
        for (int i = 0; i < 30; ++i)
            many += " W5A";
        Drive(bus, many + " P");
        trace.Flush();
    }
    std::string manyLine = "i2c 794kHz S A0+";
    for (int i = 0; i < 23; ++i)
        manyLine += " 5A+";
    EXPECT_EQ(ReadFileText(path), "i2c 794kHz S A0+ 04+ Sr A1+ 10+ 11- P\n"
                                  "i2c 794kHz S B0- P\n" +
                                      manyLine + " (+7 bytes) P\n");
}

} // namespace
