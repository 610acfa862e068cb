// The GPU's I2C engine model through its seven registers: every field, the done status, NACK on an absent
// slave, nothing without enable and the pins, the bus speed from the prescale, soft reset and the faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fakes/RecordingI2cSlave.h"
#include "sim/I2cEngine.h"

namespace {

using namespace sim::i2c;

constexpr uint32_t kPins = kClockPin | kDataPin << 8;

uint32_t Tx(bool read, bool start, bool stop, uint32_t count, bool ack = false, bool stopOnNack = true) {
    return (read ? kTransactionRead : 0) | (start ? kTransactionStart : 0) | (stop ? kTransactionStop : 0) |
           (ack ? kTransactionAck : 0) | (stopOnNack ? kTransactionStopOnNack : 0) |
           count << kTransactionCountShift;
}

struct Rig {
    explicit Rig(const sim::I2cBusSettings& busSettings = {},
                 const sim::I2cEngineSettings& engineSettings = {})
        : bus(busSettings), engine(bus, engineSettings) {
        bus.Attach(0xD0, &slave);
    }
    // Enabled, reset pulsed, pins selected, the time limit at its largest, the prescale given.
    void Acquire(uint32_t prescale = 17) {
        engine.Write(kControl, kControlEnable | 0x40);
        engine.Write(kControl, kControlEnable | 0x40 | kControlSoftReset);
        engine.Write(kControl, kControlEnable | 0x40);
        engine.Write(kPinSelection, kPins);
        engine.Write(kSetup, 0xFFu << kSetupTimeLimitShift);
        engine.Write(kSpeed, prescale << kSpeedPrescaleShift | 2);
    }
    void Load(const std::vector<uint8_t>& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i)
            engine.Write(kData, uint32_t(bytes[i]) << kDataByteShift | (i == 0 ? kDataIndexWrite : 0));
    }
    uint32_t Go(uint32_t tx) {
        engine.Write(kTransaction, tx);
        engine.Write(kControl, engine.Read(kControl) | kControlGo);
        return engine.Read(kStatus);
    }
    uint8_t Fetch(uint32_t index) {
        engine.Write(kData, kDataRead | kDataIndexWrite | index << kDataIndexShift);
        return uint8_t(engine.Read(kData) >> kDataByteShift);
    }
    sim::I2cBus bus;
    sim::I2cEngine engine;
    RecordingI2cSlave slave;
};

TEST(SimI2cEngine, BusSpeedIsTheReferenceOverThePrescale) {
    struct Case {
        uint32_t prescale, hz;
    } cases[] = {{17, 794117}, {23, 586956}, {34, 397058}, {270, 50000}, {1, 13500000}, {0xFFFF, 205}};
    for (const Case& c : cases) {
        Rig rig;
        rig.Acquire(c.prescale);
        EXPECT_EQ(rig.engine.SpeedHz(), c.hz) << c.prescale;
        rig.Load({0xD0});
        EXPECT_EQ(rig.Go(Tx(false, true, true, 0)), kStatusDone) << c.prescale;
        EXPECT_EQ(rig.engine.LastSpeedHz(), c.hz);
        EXPECT_EQ(rig.bus.SpeedHz(), c.hz);
        EXPECT_NEAR(rig.bus.Counters().seconds, 11.0 / c.hz, 1e-12);
    }
}

TEST(SimI2cEngine, NoTransactionUnlessEnabledOutOfResetWithPinsAndClock) {
    using K = sim::I2cEngineMisuse;
    struct Case {
        uint32_t control, pins, prescale;
        bool runs;
        K refusal;
    } cases[] = {
        {kControlEnable, kPins, 17, true, K::GoDisabled},
        {0, kPins, 17, false, K::GoDisabled},
        {kControlEnable | kControlSoftReset, kPins, 17, false, K::GoInReset},
        {kControlEnable, 0x7F7F, 17, false, K::GoPinsNotSelected},
        {kControlEnable, kDataPin | kClockPin << 8, 17, false, K::GoPinsNotSelected}, // swapped
        {kControlEnable, kClockPin | 0x27 << 8, 17, false, K::GoPinsNotSelected},
        {kControlEnable, kPins | 0xFF0080, 17, true, K::GoDisabled}, // other bits do not matter
        {kControlEnable, kPins, 0, false, K::GoNoClock},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.engine.Write(kPinSelection, c.pins);
        rig.engine.Write(kSpeed, c.prescale << kSpeedPrescaleShift);
        rig.engine.Write(kControl, c.control);
        rig.Load({0xD0});
        const uint32_t status = rig.Go(Tx(false, true, true, 0));
        EXPECT_EQ(status, c.runs ? kStatusDone : 0u) << std::hex << c.control << " " << c.pins;
        EXPECT_EQ(rig.slave.log, c.runs ? "w P" : "") << std::hex << c.control << " " << c.pins;
        EXPECT_EQ(rig.bus.Counters().clocks, c.runs ? 11u : 0u);
        EXPECT_EQ(rig.engine.Record().Count(c.refusal), c.runs ? 0u : 1u);
        EXPECT_EQ(rig.engine.Counters().refused, c.runs ? 0u : 1u);
    }
}

// One or more transactions, each loading the buffer (empty: keep it) and running; then what the slave saw,
// the status of the last one, the bytes fetched back, the clocks and whether the bus was left held.
TEST(SimI2cEngine, TransactionFieldsDriveTheBus) {
    struct Step {
        std::vector<uint8_t> load;
        uint32_t tx;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        const char* log;
        uint32_t status;
        std::vector<uint8_t> fetched; // buffer[0..] after the last step
        uint64_t clocks;
        bool held;
    } cases[] = {
        {"header then one data byte with stop",
         {{{0xD0, 0x00, 0x34}, Tx(false, true, false, 2)}, {{0x01}, Tx(false, false, true, 0)}},
         "w <00 <34 <01 P",
         kStatusDone,
         {0x01},
         38,
         false},
        {"header, repeated start for reading, one byte not acknowledged, stop",
         {{{0xD0, 0x00, 0x36}, Tx(false, true, false, 2)},
          {{0xD1}, Tx(true, true, false, 0)},
          {{}, Tx(true, false, true, 0)}},
         "w <00 <36 r >10 P",
         kStatusDone,
         {0x10},
         48,
         false},
        {"read with start takes count bytes after the address",
         {{{0xD1}, Tx(true, true, true, 3)}},
         "r >10 >11 >12 P",
         kStatusDone,
         {0xD1, 0x10, 0x11, 0x12},
         1 + 36 + 1,
         false},
        {"acknowledge bit on a read lets the slave go on",
         {{{0xD1}, Tx(true, true, false, 1, true)}, {{}, Tx(true, false, true, 0, false)}},
         "r >10 >11 P",
         kStatusDone,
         {0x11},
         1 + 27 + 1,
         false},
        {"no acknowledge bit ends the slave's sending",
         {{{0xD1}, Tx(true, true, false, 1, false)}, {{}, Tx(true, false, true, 0)}},
         "r >10 P",
         kStatusDone,
         {0xFF},
         1 + 27 + 1,
         false},
        {"write without stop leaves the bus held",
         {{{0xD0, 0x04}, Tx(false, true, false, 1)}},
         "w <04",
         kStatusDone,
         {0xD0, 0x04},
         19,
         true},
        {"absent slave with stop on NACK: the address alone, then a stop",
         {{{0xB0, 0x04}, Tx(false, true, false, 1)}},
         "",
         kStatusDone | kStatusNack | kStatusStoppedOnNack,
         {0xB0, 0x04},
         11,
         false},
        {"absent slave without stop on NACK: every byte goes out",
         {{{0xB0, 0x04}, Tx(false, true, true, 1, false, false)}},
         "",
         kStatusDone | kStatusNack,
         {0xB0, 0x04},
         20,
         false},
        {"absent slave for reading: no byte is received",
         {{{0xB1}, Tx(true, true, true, 2)}},
         "",
         kStatusDone | kStatusNack | kStatusStoppedOnNack,
         {0xB1, 0x00},
         11,
         false},
        {"a transaction without start on an idle bus reaches nobody",
         {{{0x01}, Tx(false, false, true, 0)}},
         "",
         kStatusDone | kStatusNack | kStatusStoppedOnNack,
         {0x01},
         10,
         false},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.Acquire();
        uint32_t status = 0;
        for (const Step& step : c.steps) {
            if (!step.load.empty())
                rig.Load(step.load);
            status = rig.Go(step.tx);
        }
        EXPECT_EQ(rig.slave.log, c.log) << c.name;
        EXPECT_EQ(status, c.status) << c.name;
        for (size_t i = 0; i < c.fetched.size(); ++i)
            EXPECT_EQ(rig.Fetch(uint32_t(i)), c.fetched[i]) << c.name << " byte " << i;
        EXPECT_EQ(rig.bus.Counters().clocks, c.clocks) << c.name;
        EXPECT_EQ(!rig.bus.Idle(), c.held) << c.name;
    }
}

TEST(SimI2cEngine, DataRegisterIndexesTheBufferBothWays) {
    Rig rig;
    // Bytes at 14, 15 and (wrapping) 0, then read back from 14 on: each read moves the index in read mode.
    rig.engine.Write(kData, 0xA1u << 8 | kDataIndexWrite | 14u << kDataIndexShift);
    rig.engine.Write(kData, 0xA2u << 8);
    rig.engine.Write(kData, 0xA3u << 8 | 0x00FF0000u); // index bits without the index write do nothing
    rig.engine.Write(kData, kDataRead | kDataIndexWrite | 14u << kDataIndexShift | 0x5500);
    const uint32_t expected[] = {0xA1u << 8 | 14u << 16 | 1, 0xA2u << 8 | 15u << 16 | 1, 0xA3u << 8 | 0 | 1};
    for (uint32_t want : expected)
        EXPECT_EQ(rig.engine.Read(kData), want);
    // In write mode a read neither stores nor moves.
    rig.engine.Write(kData, 0xB0u << 8 | kDataIndexWrite | 5u << kDataIndexShift);
    EXPECT_EQ(rig.engine.Read(kData), 6u << 16);
    EXPECT_EQ(rig.engine.Read(kData), 6u << 16);
    EXPECT_EQ(rig.Fetch(5), 0xB0);
}

TEST(SimI2cEngine, RegistersKeepWhatIsWrittenButStatusAndGo) {
    Rig rig;
    struct Case {
        uint32_t offset, written, readBack;
    } cases[] = {
        {kSpeed, 0x00110012, 0x00110012},
        {kSetup, 0xFF00ABCD, 0xFF00ABCD},
        {kTransaction, 0x000F3301, 0x000F3301},
        {kPinSelection, 0x12345678, 0x12345678},
        {kControl, 0xFFFFFFF4, 0xFFFFFFF4}, // bit 1 clear: out of reset; no go in the value
        {kStatus, 0xFFFFFFFF, 0},           // read only
    };
    EXPECT_EQ(rig.engine.Read(kPinSelection), 0x7F7Fu); // no pins at power-up
    for (const Case& c : cases) {
        rig.engine.Write(c.offset, c.written);
        EXPECT_EQ(rig.engine.Read(c.offset), c.readBack) << std::hex << c.offset;
    }
    EXPECT_EQ(rig.engine.Record().Count(sim::I2cEngineMisuse::StatusWrite), 1u);
    EXPECT_EQ(rig.engine.TimeLimit(), 0xFFu);
    EXPECT_FALSE(sim::I2cEngine::Handles(0x60D4));
    EXPECT_TRUE(sim::I2cEngine::Handles(0x60EC));
}

// Soft reset, clearing enable and changing the pins each let go of a bus the engine holds: a stop.
TEST(SimI2cEngine, LettingGoOfTheLinesStopsAHeldTransfer) {
    struct Case {
        const char* name;
        uint32_t offset, value;
        bool statusCleared;
    } cases[] = {
        {"soft reset", kControl, kControlEnable | kControlSoftReset, true},
        {"disable", kControl, 0x40, true},
        {"pins released", kPinSelection, 0x7F7F, false},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.Acquire();
        rig.Load({0xD0, 0x04});
        ASSERT_EQ(rig.Go(Tx(false, true, false, 1)), kStatusDone);
        ASSERT_FALSE(rig.bus.Idle());
        rig.engine.Write(c.offset, c.value);
        EXPECT_TRUE(rig.bus.Idle()) << c.name;
        EXPECT_EQ(rig.slave.log, "w <04 P") << c.name;
        EXPECT_EQ(rig.engine.Read(kStatus), c.statusCleared ? 0u : kStatusDone) << c.name;
    }
}

TEST(SimI2cEngine, GoClearsTheLastDoneEvenWhenItStartsNothing) {
    Rig rig;
    rig.Acquire();
    rig.Load({0xD0});
    ASSERT_EQ(rig.Go(Tx(false, true, true, 0)), kStatusDone);
    rig.engine.Write(kPinSelection, 0x7F7F);
    EXPECT_EQ(rig.Go(Tx(false, true, true, 0)), 0u);
}

TEST(SimI2cEngine, FaultsKeepTheEngineBusyOrEndByTheTimeLimit) {
    struct Case {
        const char* name;
        bool neverDone, clockHeld;
        uint32_t timeLimit;
        uint32_t status;
    } cases[] = {
        {"never done", true, false, 0xFF, kStatusBusy},
        {"held clock, no time limit", false, true, 0, kStatusBusy},
        {"held clock, time limit", false, true, 0x20, kStatusDone | kStatusTimeout},
    };
    for (const Case& c : cases) {
        sim::I2cBusSettings busSettings;
        busSettings.clockHeld = c.clockHeld;
        sim::I2cEngineSettings engineSettings;
        engineSettings.neverDone = c.neverDone;
        Rig rig(busSettings, engineSettings);
        rig.Acquire();
        rig.engine.Write(kSetup, c.timeLimit << kSetupTimeLimitShift);
        rig.Load({0xD0});
        for (int poll = 0; poll < 3; ++poll)
            EXPECT_EQ(rig.Go(Tx(false, true, true, 0)), c.status) << c.name;
        EXPECT_EQ(rig.slave.log, "") << c.name;
        EXPECT_EQ(rig.bus.Counters().clocks, 0u) << c.name;
        const bool busy = (c.status & kStatusBusy) != 0;
        EXPECT_EQ(rig.engine.Read(kControl) & kControlGo, busy ? kControlGo : 0u) << c.name;
        EXPECT_EQ(rig.engine.Record().Count(sim::I2cEngineMisuse::GoWhileBusy), busy ? 2u : 0u) << c.name;
        rig.engine.Write(kControl, kControlEnable | kControlSoftReset);
        EXPECT_EQ(rig.engine.Read(kStatus), 0u) << c.name;
    }
}

} // namespace
