// The XSVF interpreter against a recording register bus: the TCK rising edges it makes are replayed through
// a TAP model into a short trace of what the chain saw (shifted TDI bits, waits, the final state), and TDO
// is fed through the GPIO input register.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "fakes/RecordingRegisterBus.h"
#include "update/JtagPort.h"
#include "update/QSeries.h"
#include "update/TapState.h"
#include "update/XsvfPlayer.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t C(XsvfCommand command) {
    return uint8_t(command);
}
constexpr uint8_t COMPLETE = C(XsvfCommand::XCOMPLETE), TDOMASK = C(XsvfCommand::XTDOMASK),
                  SIR = C(XsvfCommand::XSIR), SDR = C(XsvfCommand::XSDR), RUNTEST = C(XsvfCommand::XRUNTEST),
                  REPEAT = C(XsvfCommand::XREPEAT), SDRSIZE = C(XsvfCommand::XSDRSIZE),
                  SDRTDO = C(XsvfCommand::XSDRTDO), SETSDRMASKS = C(XsvfCommand::XSETSDRMASKS),
                  SDRINC = C(XsvfCommand::XSDRINC), SDRB = C(XsvfCommand::XSDRB),
                  SDRC = C(XsvfCommand::XSDRC), SDRE = C(XsvfCommand::XSDRE),
                  SDRTDOB = C(XsvfCommand::XSDRTDOB), SDRTDOE = C(XsvfCommand::XSDRTDOE),
                  STATE = C(XsvfCommand::XSTATE), ENDIR = C(XsvfCommand::XENDIR),
                  ENDDR = C(XsvfCommand::XENDDR), SIR2 = C(XsvfCommand::XSIR2),
                  COMMENT = C(XsvfCommand::XCOMMENT), WAIT = C(XsvfCommand::XWAIT);

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes Be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
Bytes SdrSize(uint32_t bits) {
    return Cat({{SDRSIZE}, Be32(bits)});
}
Bytes RunTest(uint32_t time) {
    return Cat({{RUNTEST}, Be32(time)});
}
std::vector<uint32_t> Join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// TDO levels of one byte, least significant bit first, as a shift reads them.
std::vector<uint32_t> TdoBits(uint8_t value) {
    std::vector<uint32_t> bits;
    for (int i = 0; i < 8; ++i)
        bits.push_back((value >> i) & 1);
    return bits;
}

// A bus that also notes the job's progress at every register write.
class ProgressBus : public RecordingRegisterBus {
public:
    explicit ProgressBus(const tagDeviceUpdate& job) : job_(job) {}
    void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) override {
        seen.insert(job_.Percent());
        RecordingRegisterBus::WriteMem(base, offset, value);
    }
    std::set<uint32_t> seen;

private:
    const tagDeviceUpdate& job_;
};

struct Played {
    int32_t result = -1;
    uint32_t consumed = 0;
    uint32_t percent = 0;
    std::string trace;
    std::vector<TckEdge> edges;
    std::set<uint32_t> percentSeen;
};

// The trace: "I:"/"D:" and the TDI bits of each stretch in Shift-IR/Shift-DR in the order shifted, "R<n>"
// and "P<n>" for n clocks staying in Run-Test/Idle or a Pause state, and "@<state>" at the end.
std::string Trace(const std::vector<TckEdge>& edges) {
    std::string out;
    TapState state = TapState::TestLogicReset; // the reset sequence leads here from anywhere
    char kind = 0;
    uint32_t stay = 0;
    auto flush = [&] {
        if (kind == 'R' || kind == 'P')
            out += std::string(1, kind) + std::to_string(stay) + " ";
        else if (kind != 0)
            out += " ";
        kind = 0;
        stay = 0;
    };
    for (const TckEdge& edge : edges) {
        const TapState next = Next(state, edge.tms);
        char now = 0;
        if (state == TapState::ShiftDr || state == TapState::ShiftIr)
            now = state == TapState::ShiftDr ? 'D' : 'I';
        else if (next == state && state == TapState::RunTestIdle)
            now = 'R';
        else if (next == state && (state == TapState::PauseDr || state == TapState::PauseIr))
            now = 'P';
        if (now != kind)
            flush();
        if (now == 'D' || now == 'I') {
            if (kind == 0)
                out += std::string(1, now) + ":";
            out += edge.tdi ? '1' : '0';
        } else if (now != 0) {
            ++stay;
        }
        kind = now;
        // A stretch of shifting ends with the bit that leaves the Shift state.
        if ((now == 'D' || now == 'I') && next != state)
            flush();
        state = next;
    }
    flush();
    return out + "@" + std::to_string(int(state));
}

Played Play(const Bytes& stream, const std::vector<uint32_t>& tdo = {}, uint32_t tdoLevel = 0) {
    tagDeviceUpdate job;
    job.regBase = 0xF0000000u;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.gpioImage = kLineTms; // the caller raises TMS before playing
    job.stream = stream.data();
    job.streamSize = uint32_t(stream.size());
    ProgressBus bus(job);
    bus.mem[kGpioInput] = tdoLevel;
    bus.QueueRead(kGpioInput, tdo);
    Played played;
    played.result = PlayXsvf(job, bus);
    played.consumed = job.consumed.load();
    played.percent = job.Percent();
    played.edges = RisingEdges(bus.log, kLineTms);
    played.trace = Trace(played.edges);
    played.percentSeen = bus.seen;
    EXPECT_EQ(job.stream, stream.data() + played.consumed);
    return played;
}

constexpr uint32_t kAll = ~0u; // the whole stream was read

struct Case {
    const char* name;
    Bytes stream;
    int32_t result;
    const char* trace;
    uint32_t consumed;
};

TEST(PlayXsvf, CommandsShiftWaitAndNavigateAsTheChainSeesIt) {
    const Case cases[] = {
        {"complete only", {COMPLETE}, 0, "@0", kAll},
        {"instruction", {SIR, 8, 0x01, COMPLETE}, 0, "I:10000000 @1", kAll},
        {"long instruction, last byte first",
         {SIR2, 0x00, 12, 0x0A, 0xBC, COMPLETE},
         0,
         "I:001111010101 @1",
         kAll},
        {"instruction ending in Pause-IR", {ENDIR, 1, SIR, 4, 0x05, COMPLETE}, 0, "I:1010 @13", kAll},
        {"instruction then run-test", Cat({RunTest(2), {SIR, 4, 0x01, COMPLETE}}), 0, "I:1000 R2 @1", kAll},
        {"data", Cat({SdrSize(8), {SDR, 0xA5, COMPLETE}}), 0, "D:10100101 @1", kAll},
        {"data ending in Pause-DR", Cat({{ENDDR, 1}, SdrSize(4), {SDR, 0x03, COMPLETE}}), 0, "D:1100 @6",
         kAll},
        {"data then run-test", Cat({RunTest(5), SdrSize(4), {SDR, 0x00, COMPLETE}}), 0, "D:0000 R5 @1", kAll},
        {"zero-length data only waits", Cat({SdrSize(0), RunTest(3), {SDR, COMPLETE}}), 0, "R3 @1", kAll},
        {"all-ones run-test means none", Cat({RunTest(0xFFFFFFFF), SdrSize(0), {SDR, COMPLETE}}), 0, "@0",
         kAll},
        {"negative run-test: no pulses", Cat({RunTest(0x80000000), SdrSize(0), {SDR, COMPLETE}}), 0, "@1",
         kAll},
        {"B, C and E pieces are one shift", Cat({SdrSize(4), {SDRB, 0x1, SDRC, 0x2, SDRE, 0x4, COMPLETE}}), 0,
         "D:100001000010 @1", kAll},
        {"state walk", {STATE, 1, STATE, 6, STATE, 6, STATE, 7, COMPLETE}, 0, "@7", kAll},
        {"Exit2-DR from Run-Test/Idle", {STATE, 1, STATE, 7, COMPLETE}, 5, "@1", 4},
        {"state above 15", {STATE, 16, COMPLETE}, 5, "@0", 2},
        {"wait, then end state", Cat({{WAIT, 1, 6}, Be32(7), {COMPLETE}}), 0, "R7 @6", kAll},
        {"wait in Pause-DR", Cat({{STATE, 6, WAIT, 6, 1}, Be32(3), {COMPLETE}}), 0, "P3 @1", kAll},
        {"refused wait state is ignored", Cat({{WAIT, 7, 1}, Be32(2), {COMPLETE}}), 0, "@1", kAll},
        {"wait state above 15", Cat({{WAIT, 16, 1}, Be32(2), {COMPLETE}}), 5, "@0", 7},
        {"comment", {COMMENT, 'h', 'i', 0, COMPLETE}, 0, "@0", kAll},
        {"bytes after XCOMPLETE are not read", {COMPLETE, 0x05, 0x06}, 0, "@0", 1},
        {"command 5", {0x05, COMPLETE}, 4, "@0", 1},
        {"command 6", {0x06, COMPLETE}, 4, "@0", 1},
        {"command 24", {0x18, COMPLETE}, 4, "@0", 1},
        {"command 255", {0xFF}, 4, "@0", 1},
        {"DR end state 2", {ENDDR, 2, COMPLETE}, 5, "@0", 2},
        {"IR end state 2", {ENDIR, 2, COMPLETE}, 5, "@0", 2},
        {"2,000,001 bytes", Cat({SdrSize(16000001), {COMPLETE}}), 6, "@0", 5},
        {"2,000,000 bytes", Cat({SdrSize(16000000), {COMPLETE}}), 0, "@0", kAll},
        {"bit count that overflows 32 bits", Cat({SdrSize(0xFFFFFFFF), {COMPLETE}}), 6, "@0", 5},
        {"empty stream", {}, 7, "@0", 0},
        {"no XCOMPLETE", {REPEAT, 0}, 7, "@0", kAll},
        {"operand missing", {REPEAT}, 7, "@0", kAll},
        {"vector cut short", {SIR, 16, 0xAA}, 7, "@0", 2},
        {"number cut short", {SDRSIZE, 0, 0}, 7, "@0", 1},
        {"data vector missing", Cat({SdrSize(8), {SDR}}), 7, "@0", 6},
        {"comment without end", {COMMENT, 'x', 'y'}, 7, "@0", kAll},
        {"wait cut short", {WAIT, 1, 1, 0}, 7, "@0", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Played p = Play(c.stream);
        EXPECT_EQ(p.result, c.result);
        EXPECT_EQ(p.trace, c.trace);
        EXPECT_EQ(p.consumed, c.consumed == kAll ? c.stream.size() : c.consumed);
        // Progress is the share of bytes read, held at 99 until the worker finishes the job.
        if (!c.stream.empty()) {
            EXPECT_EQ(p.percent, std::min<size_t>(p.consumed * 100 / c.stream.size(), 99));
        }
        // Every play starts with the reset sequence: six clocks with TMS high.
        ASSERT_GE(p.edges.size(), 6u);
        for (size_t i = 0; i < 6; ++i)
            EXPECT_TRUE(p.edges[i].tms);
    }
}

TEST(PlayXsvf, ResetStateTwiceClocksTheSequenceTwice) {
    EXPECT_EQ(Play({STATE, 0, COMPLETE}).edges.size(), 12u);
    EXPECT_EQ(Play({STATE, 1, STATE, 6, STATE, 6, COMPLETE}).edges.size(), 6u + 1 + 4 + 6);
}

struct CompareCase {
    const char* name;
    Bytes stream;
    std::vector<uint32_t> tdo;
    int32_t result;
    const char* trace;
};

TEST(PlayXsvf, ComparesCapturedTdoAndRetriesWithARaisedRunTestTime) {
    const Bytes mismatchEvery = Cat({SdrSize(8), {TDOMASK, 0xFF, SDRTDO, 0x00, 0xFF, COMPLETE}});
    const std::vector<uint32_t> zeros(8, 0), ones(8, 1);
    const CompareCase cases[] = {
        {"match", Cat({SdrSize(8), {TDOMASK, 0xFF, SDRTDO, 0x00, 0x5A, COMPLETE}}), TdoBits(0x5A), 0,
         "D:00000000 @1"},
        {"masked-out bits differ", Cat({SdrSize(8), {TDOMASK, 0x0F, SDRTDO, 0x00, 0x5A, COMPLETE}}),
         TdoBits(0xFA), 0, "D:00000000 @1"},
        {"masked-in bit differs", Cat({SdrSize(8), {TDOMASK, 0x0F, SDRTDO, 0x00, 0x5A, COMPLETE}}),
         TdoBits(0x5B), 2, "D:00000000 @1"},
        {"no mask loaded: every bit counts", Cat({SdrSize(8), {SDRTDO, 0x00, 0x80, COMPLETE}}), zeros, 2,
         "D:00000000 @1"},
        {"XSDR before any expected value", Cat({SdrSize(8), {SDR, 0x00, COMPLETE}}), zeros, 0,
         "D:00000000 @1"},
        {"XSDR against the last expected value",
         Cat({SdrSize(8), {TDOMASK, 0xFF, SDRTDO, 0x00, 0x01, SDR, 0x00, COMPLETE}}), TdoBits(0x01), 2,
         "D:00000000 D:00000000 @1"},
        {"repeat 0", Cat({{REPEAT, 0}, RunTest(100), mismatchEvery}), zeros, 2, "D:00000000 R100 @1"},
        {"repeat 3, every attempt fails: waits 125, 156, 195, 195",
         Cat({{REPEAT, 3}, RunTest(100), mismatchEvery}), zeros, 3,
         "D:00000000 D:0 R125 D:00000000 D:0 R156 D:00000000 D:0 R195 D:00000000 R195 @1"},
        {"repeat 3, second attempt matches", Cat({{REPEAT, 3}, RunTest(100), mismatchEvery}),
         Join(zeros, ones), 0, "D:00000000 D:0 R125 D:00000000 R125 @1"},
        {"repeat 2 without run-test repeats the plain shift", Cat({{REPEAT, 2}, mismatchEvery}), zeros, 3,
         "D:00000000 D:00000000 D:00000000 @1"},
        {"XSDRTDOB is never retried",
         Cat({{REPEAT, 3}, RunTest(100), SdrSize(8), {SDRTDOB, 0x00, 0xFF, COMPLETE}}), zeros, 2,
         "D:00000000 @4"},
        {"XSDRTDOE ignores the TDO mask", Cat({SdrSize(8), {TDOMASK, 0x0F, SDRTDOE, 0x00, 0xF0, COMPLETE}}),
         zeros, 2, "D:00000000 @1"},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Played p = Play(c.stream, c.tdo);
        EXPECT_EQ(p.result, c.result);
        EXPECT_EQ(p.trace, c.trace);
    }
}

TEST(PlayXsvf, IncrementingShiftsAddTheAddressAndPlaceTheNextData) {
    // Address mask adds 0x0010 per step; the data mask puts four next-data bits into byte 0's low nibble.
    const Bytes inc =
        Cat({SdrSize(16), {SETSDRMASKS, 0x00, 0x10, 0x0F, 0x00, SDRINC, 0x00, 0x00, 2, 0x05, 0x0A}});
    const Played ok = Play(Cat({inc, {COMPLETE}}));
    EXPECT_EQ(ok.result, 0);
    // 0x0000, 0x0510, 0x0A20, least significant bit first.
    EXPECT_EQ(ok.trace, "D:0000000000000000 D:0000100010100000 D:0000010001010000 @1");

    // A failing shift stops the command: the first XSDRTDO matches, the first XSDRINC shift does not.
    const Played badInc = Play(Cat({SdrSize(16),
                                    {SETSDRMASKS, 0x00, 0x10, 0x0F, 0x00, TDOMASK, 0xFF, 0xFF},
                                    {SDRTDO, 0x00, 0x00, 0x00, 0x00, SDRINC, 0x00, 0x00, 2, 0x05, 0x0A}}),
                               std::vector<uint32_t>(16, 0), 1);
    EXPECT_EQ(badInc.result, 2);
    EXPECT_EQ(badInc.trace, "D:0000000000000000 D:0000000000000000 @1");
    EXPECT_EQ(badInc.consumed, 1u + 4 + 5 + 3 + 5 + 3u); // the count byte and next data stay unread
}

TEST(ApplySdrMasks, AddsWithCarryAndPlacesNextDataBitsInMaskOrder) {
    struct MaskCase {
        const char* name;
        Bytes tdi, address, data, next, expected;
    };
    const MaskCase cases[] = {
        {"carry runs through", {0x00, 0xFF, 0xFF}, {0x00, 0x00, 0x01}, {0, 0, 0}, {}, {0x01, 0x00, 0x00}},
        {"final carry is dropped", {0xFF, 0xFF}, {0x00, 0x01}, {0, 0}, {}, {0x00, 0x00}},
        {"mask bits across bytes", {0x00, 0xFF}, {0, 0}, {0x01, 0x80}, {0x02}, {0x01, 0x7F}},
        {"nine bits from two next-data bytes",
         {0x00, 0x00},
         {0, 0},
         {0x01, 0xFF},
         {0x01, 0x80},
         {0x01, 0x80}},
        {"shorter address mask aligns at the low end", {0x12, 0x34}, {0x01}, {}, {}, {0x12, 0x35}},
    };
    for (MaskCase c : cases) {
        SCOPED_TRACE(c.name);
        tagLenVal tdi{uint32_t(c.tdi.size()), c.tdi.data()};
        const tagLenVal address{uint32_t(c.address.size()), c.address.data()};
        const tagLenVal data{uint32_t(c.data.size()), c.data.data()};
        const tagLenVal next{uint32_t(c.next.size()), c.next.data()};
        ApplySdrMasks(tdi, address, data, next);
        EXPECT_EQ(c.tdi, c.expected);
    }
}

TEST(PlayXsvf, ProgressCountsEveryByteBeforeItsCommandRuns) {
    const Played p = Play({SIR, 8, 0x01, SIR, 8, 0x01, COMPLETE});
    EXPECT_EQ(p.percentSeen, (std::set<uint32_t>{0, 42, 85})); // reset, then after 3 and 6 of 7 bytes
    EXPECT_EQ(p.percent, 99u); // the last byte read: 100 is the worker's finish

    const Played three = Play({REPEAT, 0, COMPLETE});
    EXPECT_EQ(three.consumed, 3u);
    EXPECT_EQ(three.percent, 99u);

    const Played failed = Play({SIR, 8, 0x01, 0x05, 0, 0});
    EXPECT_EQ(failed.result, 4);
    EXPECT_EQ(failed.percent, 66u); // stays where the error struck
}

// The worker's job reads 100 percent only once the worker has made its last register write and stored its
// result, however the stream ends: the run takes 100 for "finished" and then closes the port.
TEST(CardWorker, JobIsFinishedOnlyAfterTheLastRegisterWrite) {
    struct Case {
        const char* name;
        Bytes stream;
        int32_t result;
    };
    const Case cases[] = {
        {"long wait instead of XCOMPLETE", Cat({{SIR, 8, 0x01, WAIT, 1, 1}, Be32(300)}), 7},
        {"long wait, then XCOMPLETE", Cat({{SIR, 8, 0x01, WAIT, 1, 1}, Be32(300), {COMPLETE}}), 0},
        {"cut inside the last vector", {SIR, 8, 0x01, SIR, 16, 0x01}, 7},
        {"run-test after the last byte", Cat({RunTest(200), SdrSize(8), {SDR, 0x5A}}), 7},
        {"bytes after XCOMPLETE", {REPEAT, 0, COMPLETE, SIR, 8}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tagDeviceUpdate job;
        job.regBase = 0xF0000000u;
        job.portMode = kPortFixedSettle;
        job.settleCount = 0;
        job.stream = c.stream.data();
        job.streamSize = uint32_t(c.stream.size());
        ProgressBus bus(job);
        const tagPciInfo info{};
        std::unique_ptr<CQSeries> card(CreateCard(&info, tagCmdLineOptions(), 0, bus));
        EXPECT_EQ(card->Update(&job), c.result);
        ASSERT_FALSE(bus.seen.empty());
        EXPECT_LE(*bus.seen.rbegin(), 99u); // at every register write the job still ran
        EXPECT_TRUE(job.Finished());
        EXPECT_EQ(job.Result(), c.result);
    }
}

} // namespace
