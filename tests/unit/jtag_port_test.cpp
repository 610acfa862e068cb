// The JTAG port layer against a recording register bus: register transcripts of the line primitives, the
// port setup and close in each mode, the bit order of shifts, and settle calibration with a scripted clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/RecordingRegisterBus.h"
#include "update/JtagPort.h"

namespace {

constexpr RegOp R = RegOp::ReadMem, W = RegOp::WriteMem, RC = RegOp::ReadConfig, WC = RegOp::WriteConfig;
constexpr uint32_t kMask = kGpioMask, kOut = kGpioOutput, kEnable = kGpioOutputEnable;

// A performance counter that moves by `step` on every read, unless a script supplies the readings.
class ScriptedClock : public plat::Clock {
public:
    uint64_t ProcessMilliseconds() override { return 0; }
    void SleepMs(uint32_t) override {}
    plat::LocalTime Now() override { return {}; }
    uint64_t PerformanceCounter() override {
        ++counterReads;
        if (script)
            return script();
        counter += step;
        return counter;
    }
    uint64_t PerformanceFrequency() override { return frequency; }
    uint32_t ProcessorMhz() override { return mhz; }

    uint64_t counter = 0;
    uint64_t step = 1;
    uint64_t frequency = 1000000;
    uint32_t mhz = 0;
    std::function<uint64_t()> script;
    uint64_t counterReads = 0;
};

struct Port {
    explicit Port(int32_t mode, uint32_t settle = 0, uint32_t image = 0) {
        job.hPci = 0x0300;
        job.regBase = 0xF0000000u;
        job.portMode = mode;
        job.settleCount = settle;
        job.gpioImage = image;
    }
    tagDeviceUpdate job;
    RecordingRegisterBus bus;
    ScriptedClock clock;
    // What calibration reported, as (passes done, passes in all).
    std::vector<std::pair<uint32_t, uint32_t>> reported;
    const CalibrationProgress progress = [this](uint32_t done, uint32_t total) {
        reported.emplace_back(done, total);
    };
};

TEST(WritePortRegister, SettleCountDecidesSingleOrDoubleWriteAndTheWait) {
    struct Case {
        uint32_t settle;
        size_t writes;
        uint32_t iterations; // the busy-wait after the write
    };
    const Case cases[] = {{64, 2, 64}, {40, 2, 40}, {39, 2, 39}, {38, 2, 38}, {20, 2, 38},
                          {16, 2, 38}, {15, 1, 15}, {10, 1, 10}, {1, 1, 1},   {0, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settle);
        EXPECT_EQ(SettleIterations(c.settle), c.iterations);
        Port p(kPortFixedSettle, c.settle);
        EXPECT_TRUE(WritePortRegister(p.job, p.bus, kEnable, 0x1234));
        EXPECT_EQ(p.bus.log, std::vector<RegAccess>(c.writes, {W, kEnable, 0x1234}));
        EXPECT_EQ(p.bus.lastBase, 0xF0000000u);
        EXPECT_EQ(p.job.gpioImage.load(), 0u); // only the output register is the image
        WritePortRegister(p.job, p.bus, kOut, 0x20);
        EXPECT_EQ(p.job.gpioImage.load(), 0x20u);
    }
}

TEST(WritePortRegister, ReadBackModeRepeatsWriteWriteReadUntilTheRegisterHoldsTheValue) {
    Port p(kPortReadBack, 40);
    p.bus.QueueRead(kOut, {0x0, 0x7});
    EXPECT_TRUE(WritePortRegister(p.job, p.bus, kOut, 0x20));
    const std::vector<RegAccess> expected = {{W, kOut, 0x20}, {W, kOut, 0x20}, {R, kOut, 0x0},
                                             {W, kOut, 0x20}, {W, kOut, 0x20}, {R, kOut, 0x7},
                                             {W, kOut, 0x20}, {W, kOut, 0x20}, {R, kOut, 0x20}};
    EXPECT_EQ(p.bus.log, expected);
}

TEST(WritePortRegister, ReadBackOfARegisterThatNeverHoldsTheValueGivesUp) {
    Port p(kPortReadBack);
    p.bus.QueueRead(kMask, std::vector<uint32_t>(5000, 0xDEAD));
    EXPECT_FALSE(WritePortRegister(p.job, p.bus, kMask, 0x40));
    EXPECT_EQ(p.bus.log.size(), 3000u); // a thousand triples, then the program goes on
}

TEST(SetPort, DataLinesChangeTheImageAndAClockEdgeIsAWriteOfItsOwn) {
    struct Case {
        const char* name;
        uint32_t image;
        JtagLine line;
        uint32_t level;
        uint32_t imageAfter;
        std::vector<uint32_t> writes;
    };
    const uint32_t tck = kLineTck, tms = kLineTms;
    const Case cases[] = {
        {"TMS high, image only", 0, JtagLine::Tms, 1, tms, {}},
        {"TDI high drives three lines", tck, JtagLine::Tdi, 1, tck | 0x3800, {}},
        {"TDI low clears all three", 0x3820, JtagLine::Tdi, 0, tms, {}},
        {"TCK low while low: one write with pending data", tms, JtagLine::Tck, 0, tms, {tms}},
        {"TCK high while low: old clock, then edge", tms, JtagLine::Tck, 1, tck | tms, {tms, tck | tms}},
        {"TCK low while high: old clock, then edge",
         tck | 0x3800,
         JtagLine::Tck,
         0,
         0x3800,
         {tck | 0x3800, 0x3800}},
        {"TCK high while high: one write", tck, JtagLine::Tck, 1, tck, {tck}},
        {"any level but 0 is high", 0, JtagLine::Tms, 7, tms, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Port p(kPortFixedSettle, 0, c.image);
        SetPort(p.job, p.bus, c.line, c.level);
        EXPECT_EQ(p.job.gpioImage.load(), c.imageAfter);
        EXPECT_EQ(p.bus.Values(W, kOut), c.writes);
        EXPECT_EQ(p.bus.log.size(), c.writes.size());
    }
}

TEST(WaitTck, OnePulseOfFourWritesPerCountAndNoneForZeroOrLess) {
    for (int32_t count : {-5, 0, 1, 3}) {
        SCOPED_TRACE(count);
        Port p(kPortFixedSettle, 0, kLineTms);
        WaitTck(p.job, p.bus, count);
        const size_t pulses = count > 0 ? size_t(count) : 0;
        EXPECT_EQ(RisingEdges(p.bus.log, kLineTms).size(), pulses);
        EXPECT_EQ(p.bus.log.size(), 4 * pulses);
        EXPECT_EQ(p.job.gpioImage.load(), kLineTms); // clock back low
    }
}

TEST(ShiftBits, LeastSignificantBitFirstFromTheLastByteWithTmsOnTheLastBitOnExit) {
    const uint8_t tdi[] = {0x0A, 0xBC};
    std::vector<bool> expectedTdi;
    for (int bit = 0; bit < 8; ++bit)
        expectedTdi.push_back(((0xBC >> bit) & 1) != 0);
    for (int bit = 0; bit < 4; ++bit)
        expectedTdi.push_back(((0x0A >> bit) & 1) != 0);

    for (bool exit : {false, true}) {
        SCOPED_TRACE(exit);
        Port p(kPortFixedSettle, 0, kLineTck);
        ShiftBits(p.job, p.bus, 12, tdi, 2, nullptr, exit);
        const std::vector<TckEdge> edges = RisingEdges(p.bus.log, kLineTck);
        ASSERT_EQ(edges.size(), 12u);
        for (size_t i = 0; i < edges.size(); ++i) {
            EXPECT_EQ(edges[i].tdi, expectedTdi[i]) << "bit " << i;
            EXPECT_EQ(edges[i].tms, exit && i == 11) << "bit " << i;
            EXPECT_TRUE(edges[i].stable) << "bit " << i;
        }
        EXPECT_EQ(p.bus.log.size(), 48u); // four writes per bit
        EXPECT_TRUE(p.bus.Values(R, kGpioInput).empty());
    }
}

TEST(ShiftBits, CapturesTdoWhileTheClockIsLowIntoTheByteOfTheSameIndex) {
    // TDO levels in shift order, with the other input lines set to show that only bit 0 counts.
    const uint8_t tdi[] = {0x00, 0xFF};
    const uint32_t tdo[] = {1, 0, 1, 1, 0, 0, 0, 1, /* second byte: */ 0, 1, 1};
    std::vector<uint32_t> reads;
    for (uint32_t level : tdo)
        reads.push_back(0x6 | level | 0xFFFF0000u);
    Port p(kPortFixedSettle, 0, kLineTck);
    p.bus.QueueRead(kGpioInput, reads);
    uint8_t captured[2] = {0xEE, 0xEE};
    ShiftBits(p.job, p.bus, 11, tdi, 2, captured, false);
    EXPECT_EQ(captured[1], 0x8D); // bits 0,2,3,7
    EXPECT_EQ(captured[0], 0x06); // bits 1,2; the five bits not shifted are 0

    // Each read comes after the falling edge and before the rising one.
    uint32_t level = kLineTck;
    for (const RegAccess& a : p.bus.log) {
        if (a.op == W)
            level = a.value;
        else
            EXPECT_EQ(level & kLineTck, 0u);
    }
}

TEST(ShiftBits, NeverShiftsBeyondTheBufferAndExitsOnTheLastBitShifted) {
    const uint8_t tdi[] = {0x01};
    Port p(kPortFixedSettle, 0, kLineTck);
    ShiftBits(p.job, p.bus, 20, tdi, 1, nullptr, true);
    const std::vector<TckEdge> edges = RisingEdges(p.bus.log, kLineTck);
    ASSERT_EQ(edges.size(), 8u);
    EXPECT_TRUE(edges[7].tms);
    EXPECT_FALSE(edges[6].tms);
}

// Setup transcript shared by every mode up to the point where the modes differ (settle count 0).
std::vector<RegAccess> ClaimTranscript() {
    return {{RC, 0x04, 0x02100000}, {WC, 0x04, 0x02100002}, {RC, 0xE0, 0x0000F00F},
            {WC, 0xE0, 0x0000F00C}, {W, kMask, 0x40000000}, {W, kEnable, 0x40000000},
            {W, kOut, 0x40000000},  {W, kMask, 0x20003827}, {W, kEnable, 0x20003820},
            {W, kOut, 0x40000020}};
}

void PresetConfig(RecordingRegisterBus& bus) {
    bus.config[0x04] = 0x02100000;
    bus.config[0xE0] = 0x0000F00F;
}

TEST(InitJtagPort, FixedSettleModeClaimsTheLinesWithoutCalibration) {
    Port p(kPortFixedSettle, 0);
    PresetConfig(p.bus);
    InitJtagPort(p.job, p.bus, p.clock, p.progress);
    EXPECT_EQ(p.bus.log, ClaimTranscript());
    EXPECT_EQ(p.bus.lastPciHandle, 0x0300u);
    EXPECT_EQ(p.job.gpioImage.load(), 0x40000020u); // claim line kept, TMS high, TCK and TDI low
    EXPECT_EQ(p.job.settleCount.load(), 0u);
    EXPECT_EQ(p.clock.counterReads, 0u);
    EXPECT_TRUE(p.reported.empty());
}

TEST(InitJtagPort, ReadBackModeVerifiesEveryWindowWrite) {
    Port p(kPortReadBack, 40);
    PresetConfig(p.bus);
    InitJtagPort(p.job, p.bus, p.clock, p.progress);
    std::vector<RegAccess> expected;
    for (const RegAccess& a : ClaimTranscript()) {
        expected.push_back(a);
        if (a.op == W) {
            expected.push_back(a);
            expected.push_back({R, a.offset, a.value});
        }
    }
    EXPECT_EQ(p.bus.log, expected);
    EXPECT_EQ(p.job.settleCount.load(), 40u);
}

TEST(InitJtagPort, CalibratedModeMeasuresBetweenTheClaimAndTdiLow) {
    Port p(kPortCalibrated, 0);
    PresetConfig(p.bus);
    p.clock.mhz = 2000;
    p.clock.step = 1000; // 20000 / 1000 = 20
    InitJtagPort(p.job, p.bus, p.clock, p.progress);
    const std::vector<RegAccess> claim = ClaimTranscript();
    ASSERT_EQ(p.bus.log.size(), claim.size() + 256 * 4096);
    EXPECT_EQ(std::vector<RegAccess>(p.bus.log.begin(),
                                     p.bus.log.begin() + static_cast<std::ptrdiff_t>(claim.size())),
              claim);
    for (size_t i = claim.size(); i < p.bus.log.size(); ++i) {
        const uint32_t value = (i - claim.size()) % 2 == 0 ? 0x3800 : 0;
        ASSERT_EQ(p.bus.log[i], (RegAccess{W, kOut, value})) << i;
    }
    EXPECT_EQ(p.job.settleCount.load(), 20u);
    EXPECT_EQ(p.job.gpioImage.load(), 0x40000020u); // calibration's TDI high is taken back
}

TEST(CalibrateSettleCount, KeepsTheLargestQuotientCappedAt64) {
    struct Case {
        const char* name;
        uint32_t mhz;
        uint64_t step;
        uint32_t expected;
    };
    const Case cases[] = {
        {"20000 / 1000", 2000, 1000, 20},
        {"30000 / 7 capped", 3000, 7, 64},
        {"counter too coarse to move: fastest rate", 3000, 0, 64},
        {"processor clock unknown: unchanged", 0, 100, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Port p(kPortCalibrated, 40);
        p.bus.recording = false;
        p.clock.mhz = c.mhz;
        p.clock.step = c.step;
        CalibrateSettleCount(p.job, p.bus, p.clock, p.progress);
        EXPECT_EQ(p.job.settleCount.load(), c.expected);
        EXPECT_EQ(p.bus.accessCount, 256u * 4096u);
        EXPECT_EQ(p.job.gpioImage.load(), kLinesTdi);
    }
}

TEST(CalibrateSettleCount, TakesTheFastestPassAndReportsEveryPass) {
    Port p(kPortCalibrated, 40);
    p.bus.recording = false;
    p.clock.mhz = 1000; // numerator 10000
    // Warm-up reads move by 1; pass 100 measures 400 ticks (quotient 25), every other pass 1000 (10).
    uint64_t now = 0, reads = 0;
    const uint64_t warmUpReads = 2 * 8192;
    p.clock.script = [&] {
        ++reads;
        if (reads <= warmUpReads)
            return ++now;
        const uint64_t pass = (reads - warmUpReads - 1) / 2;
        const bool end = (reads - warmUpReads) % 2 == 0;
        if (end)
            now += pass == 100 ? 400 : 1000;
        return now;
    };
    CalibrateSettleCount(p.job, p.bus, p.clock, p.progress);
    EXPECT_EQ(p.job.settleCount.load(), 25u);
    std::vector<std::pair<uint32_t, uint32_t>> passes;
    for (uint32_t done = 0; done <= 256; ++done)
        passes.emplace_back(done, 256);
    EXPECT_EQ(p.reported, passes);
}

TEST(CloseJtagPort, TranscriptsByModeAndSuccess) {
    const std::vector<RegAccess> pulse = {
        {W, kMask, 0x40}, {W, kEnable, 0x40}, {W, kOut, 0x40}, {W, kOut, 0}};
    const std::vector<RegAccess> release = {
        {W, kMask, 0x40000000}, {W, kEnable, 0x40000000}, {W, kOut, 0}, {W, kMask, 0}};
    std::vector<RegAccess> pulseThenRelease = pulse;
    pulseThenRelease.insert(pulseThenRelease.end(), release.begin(), release.end());
    std::vector<RegAccess> verifiedPulse;
    for (const RegAccess& a : pulse)
        verifiedPulse.insert(verifiedPulse.end(), {a, a, {R, a.offset, a.value}});
    struct Case {
        int32_t mode;
        bool success;
        std::vector<RegAccess> expected;
        uint64_t counterReads; // two microsecond readings after each of the first three writes
    };
    const Case cases[] = {
        {kPortFixedSettle, false, {}, 0},     {kPortFixedSettle, true, pulse, 0},
        {kPortCalibrated, false, release, 0}, {kPortCalibrated, true, pulseThenRelease, 0},
        {kPortReadBack, false, {}, 0},        {kPortReadBack, true, verifiedPulse, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " success " << c.success);
        Port p(c.mode, 0, 0x40000020);
        EXPECT_TRUE(CloseJtagPort(p.job, p.bus, p.clock, c.success));
        EXPECT_EQ(p.bus.log, c.expected);
        EXPECT_EQ(p.clock.counterReads, c.counterReads);
    }
}

TEST(CloseJtagPort, AStuckMicrosecondCountEndsTheWaitAndThePulseStillEndsLow) {
    Port p(kPortReadBack, 0);
    p.clock.step = 0;
    EXPECT_FALSE(CloseJtagPort(p.job, p.bus, p.clock, true));
    EXPECT_EQ(p.bus.Values(W, kOut), (std::vector<uint32_t>{0x40, 0x40, 0, 0}));
}

TEST(ReadMicroseconds, ExactForLongUptimeAndZeroWithoutFrequency) {
    struct Case {
        uint64_t counter, frequency;
        uint32_t expected;
    };
    const Case cases[] = {
        {2500000, 10000000, 250000},
        // 100 days of a 3 GHz counter: counter x 1,000,000 would not fit in 64 bits.
        {25920000000000000ull, 3000000000ull, uint32_t(8640000000000ull)},
        {123456789, 0, 0},
    };
    for (const Case& c : cases) {
        ScriptedClock clock;
        clock.counter = c.counter;
        clock.step = 0;
        clock.frequency = c.frequency;
        EXPECT_EQ(ReadMicroseconds(clock), c.expected) << c.counter;
    }
}

TEST(DeviceUpdate, NewJobAndFinishPublishesWhatTheWorkerStoredBeforeIt) {
    tagDeviceUpdate job;
    EXPECT_EQ(job.settleCount.load(), 40u);
    EXPECT_EQ(job.adlIndex, -1);
    EXPECT_EQ(job.stream, nullptr);
    EXPECT_EQ(job.Result(), 0);
    EXPECT_FALSE(job.Finished());

    std::thread worker([&] {
        for (uint32_t p = 1; p <= 57; ++p) {
            job.consumed.store(p, std::memory_order_relaxed);
            job.SetPercent(p);
        }
        job.Finish(4);
    });
    while (!job.Finished()) {
    }
    EXPECT_EQ(job.Result(), 4);
    EXPECT_EQ(job.consumed.load(std::memory_order_relaxed), 57u);
    EXPECT_EQ(job.Percent(), 100u);
    worker.join();
}

} // namespace

// Records like RecordingRegisterBus, and counts the runs of writes it was handed at once.
class SeriesBus : public RecordingRegisterBus {
public:
    void WriteMemSeries(uintptr_t base, uint32_t offset, const uint32_t* values, size_t count) override {
        ++series;
        longest = std::max(longest, count);
        for (size_t i = 0; i < count; ++i)
            RecordingRegisterBus::WriteMem(base, offset, values[i]);
    }
    size_t series = 0;
    size_t longest = 0;
};

// Without settling, writes reach the bus in runs; the bus must still see exactly the accesses, in the order,
// that the settling path makes one call at a time (settle count 1: single writes, each on its own).
TEST(PortLines, RunsOfWritesCarryTheSameAccessesAsSingleWrites) {
    std::vector<uint8_t> vector(100);
    for (size_t i = 0; i < vector.size(); ++i)
        vector[i] = static_cast<uint8_t>(i * 37 + 11);
    struct Case {
        const char* name;
        std::function<void(tagDeviceUpdate&, RegisterBus&)> run;
    };
    const Case cases[] = {
        {"wait 1", [](tagDeviceUpdate& j, RegisterBus& b) { WaitTck(j, b, 1); }},
        {"wait 64", [](tagDeviceUpdate& j, RegisterBus& b) { WaitTck(j, b, 64); }},
        {"wait 65", [](tagDeviceUpdate& j, RegisterBus& b) { WaitTck(j, b, 65); }},
        {"wait 1000", [](tagDeviceUpdate& j, RegisterBus& b) { WaitTck(j, b, 1000); }},
        {"shift 1 bit",
         [&](tagDeviceUpdate& j, RegisterBus& b) { ShiftBits(j, b, 1, vector.data(), 1, nullptr, false); }},
        {"shift 1 bit, exit",
         [&](tagDeviceUpdate& j, RegisterBus& b) { ShiftBits(j, b, 1, vector.data(), 1, nullptr, true); }},
        {"shift 13 bits of 2 bytes, exit",
         [&](tagDeviceUpdate& j, RegisterBus& b) { ShiftBits(j, b, 13, vector.data(), 2, nullptr, true); }},
        {"shift 800 bits", [&](tagDeviceUpdate& j,
                               RegisterBus& b) { ShiftBits(j, b, 800, vector.data(), 100, nullptr, false); }},
        {"shift 799 bits, exit",
         [&](tagDeviceUpdate& j, RegisterBus& b) {
             ShiftBits(j, b, 799, vector.data(), 100, nullptr, true);
         }},
        {"shift beyond the buffer",
         [&](tagDeviceUpdate& j, RegisterBus& b) { ShiftBits(j, b, 5000, vector.data(), 3, nullptr, true); }},
        {"shift 300 bits with capture, exit",
         [&](tagDeviceUpdate& j, RegisterBus& b) {
             std::vector<uint8_t> captured(40);
             ShiftBits(j, b, 300, vector.data(), 40, captured.data(), true);
         }},
        {"TAP walk, shift, wait",
         [&](tagDeviceUpdate& j, RegisterBus& b) {
             uint8_t tap = 0;
             GotoTapState(j, b, tap, 4);
             ShiftBits(j, b, 200, vector.data(), 25, nullptr, true);
             WaitTck(j, b, 300);
             TmsTransition(j, b, 0);
         }},
    };
    for (const Case& c : cases) {
        for (uint32_t clock : {0u, kLineTck}) {
            SCOPED_TRACE(std::string(c.name) + (clock ? ", clock high" : ", clock low"));
            const uint32_t image = kLineClaim | kLineTms | clock;
            Port single(kPortFixedSettle, 1, image);
            single.bus.QueueRead(kGpioInput, std::vector<uint32_t>(400, 1)); // TDO for the captured case
            c.run(single.job, single.bus);
            Port runs(kPortFixedSettle, 0, image);
            SeriesBus bus;
            bus.QueueRead(kGpioInput, std::vector<uint32_t>(400, 1));
            c.run(runs.job, bus);
            EXPECT_EQ(bus.log, single.bus.log);
            EXPECT_EQ(runs.job.gpioImage.load(), single.job.gpioImage.load());
            EXPECT_GT(bus.series, 0u);
        }
    }
}
