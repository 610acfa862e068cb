// The GPU I2C engine's register sequences against a recording register bus: acquire and release as whole
// transcripts, every message shape as the DATA and TRANSACTION values it writes, the bounded wait for done,
// and the card methods on both routes (the display-library route against a fake library call).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/AdlI2c.h"
#include "ExternalDeviceLayer/I2cEngine.h"
#include "ExternalDeviceLayer/I2cSettings.h"
#include "fakes/RecordingRegisterBus.h"
#include "update/QSeries.h"

namespace {

constexpr uint32_t kControl = 0x60D0, kStatus = 0x60D8, kSpeed = 0x60DC, kSetup = 0x60E0, kTx = 0x60E4,
                   kData = 0x60E8, kPins = 0x60EC;
constexpr uintptr_t kBase = 0x10000000;

// Sets the process-wide speed for one test and puts it back.
struct SpeedScope {
    explicit SpeedScope(uint32_t khz, uint32_t retries = 0)
        : oldSpeed(I2cSettings().speedKhz.load()), oldRetries(I2cSettings().retryCount.load()) {
        I2cSettings().speedKhz = khz;
        I2cSettings().retryCount = retries;
    }
    ~SpeedScope() {
        I2cSettings().speedKhz = oldSpeed;
        I2cSettings().retryCount = oldRetries;
    }
    uint32_t oldSpeed, oldRetries;
};

struct EngineFixture : ::testing::Test {
    RecordingRegisterBus bus;
    std::atomic<uint32_t> settle{0};
    tagRegWindow window{bus, kBase, settle};
    CI2cEngine engine{window};
    void SetUp() override { bus.mem[kStatus] = 0x10; } // every transaction finishes at once
    // The writes of DATA and TRANSACTION, in order, as "D:value" and "T:value".
    std::vector<std::string> MessageWrites() const {
        std::vector<std::string> out;
        for (const RegAccess& a : bus.log) {
            if (a.op != RegOp::WriteMem || (a.offset != kData && a.offset != kTx))
                continue;
            char text[16];
            std::snprintf(text, sizeof text, "%c:%08X", a.offset == kData ? 'D' : 'T', a.value);
            out.push_back(text);
        }
        return out;
    }
    size_t Gos() const {
        size_t n = 0;
        for (const RegAccess& a : bus.log)
            n += a.op == RegOp::WriteMem && a.offset == kControl && (a.value & 1) ? 1 : 0;
        return n;
    }
};

void Fill(tagI2cMessage& m, uint32_t slave, uint32_t width, uint32_t sub, std::vector<unsigned char> bytes) {
    m.slaveAddress = slave;
    m.subAddressWidth = width;
    m.subAddress = sub;
    m.data.SetCount(static_cast<int32_t>(bytes.size()), -1);
    for (size_t i = 0; i < bytes.size(); ++i)
        m.data[static_cast<int32_t>(i)] = bytes[i];
}

TEST_F(EngineFixture, AcquireAndReleaseProgramTheEngineRegisterByRegister) {
    SpeedScope speed(800);
    bus.mem[kControl] = 0xFFFFFF35; // bits above 3 go, bit 3 and bit 6 are set
    bus.mem[kPins] = 0xFFFF7F7F;
    bus.mem[kSetup] = 0x00123456;
    bus.mem[kSpeed] = 0x0000FFFF;
    EXPECT_EQ(engine.I2cEngineAcquire(), 1);
    EXPECT_EQ(engine.I2cEngineRelease(), 1);
    const std::vector<RegAccess> expected = {
        {RegOp::ReadMem, kControl, 0xFFFFFF35},  {RegOp::WriteMem, kControl, 0x0000004D},
        {RegOp::ReadMem, kControl, 0x0000004D},  {RegOp::WriteMem, kControl, 0x0000004F},
        {RegOp::WriteMem, kControl, 0x0000004D}, {RegOp::ReadMem, kPins, 0xFFFF7F7F},
        {RegOp::WriteMem, kPins, 0xFFFF2829},    {RegOp::ReadMem, kSetup, 0x00123456},
        {RegOp::WriteMem, kSetup, 0xFF123456},   {RegOp::ReadMem, kSpeed, 0x0000FFFF},
        {RegOp::WriteMem, kSpeed, 0x0011FFEE}, // threshold 2, bit 4 clear, prescale 17
        {RegOp::ReadMem, kPins, 0xFFFF2829},     {RegOp::WriteMem, kPins, 0xFFFF7F7F},
        {RegOp::ReadMem, kControl, 0x0000004D},  {RegOp::WriteMem, kControl, 0x00000045},
    };
    EXPECT_EQ(bus.log, expected);
    EXPECT_EQ(bus.lastBase, kBase);
}

TEST(I2cPrescale, NearestDivisorOfTheReferenceClock) {
    const std::pair<uint32_t, uint32_t> cases[] = {{800, 17},  {600, 23},  {400, 34},  {50, 270}, {13500, 1},
                                                   {27001, 1}, {30000, 0}, {1, 13501}, {0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(I2cPrescale(c.first), c.second) << c.first << " kHz";
}

// One row per message shape: what goes into DATA and TRANSACTION, and how many transactions run.
TEST_F(EngineFixture, EveryMessageShapeWritesItsDataAndTransactionValues) {
    struct Case {
        const char* name;
        bool read;
        uint32_t slave, width, sub;
        std::vector<unsigned char> bytes;
        std::vector<std::string> writes;
    };
    const Case cases[] = {
        {"write, no data: address and sub-address, no stop",
         false,
         0xD0,
         1,
         0x04,
         {},
         {"D:8000D000", "D:00000400", "T:00011100"}},
        {"write, width 0: the address alone",
         false,
         0xD2,
         0,
         0x1234,
         {0xAB},
         {"D:8000D200", "T:00001100", "D:8000AB00", "T:00002100"}},
        {"write, width 2, high byte first, stop after the last byte",
         false,
         0xD4,
         2,
         0x1234,
         {1, 2},
         {"D:8000D400", "D:00001200", "D:00003400", "T:00021100", "D:80000100", "T:00000100", "D:80000200",
          "T:00002100"}},
        {"write, width 4",
         false,
         0xD0,
         4,
         0x01020304,
         {},
         {"D:8000D000", "D:00000100", "D:00000200", "D:00000300", "D:00000400", "T:00041100"}},
        {"read of one byte: no acknowledge, stop after it",
         true,
         0xD0,
         1,
         0x04,
         {0},
         {"D:8000D000", "D:00000400", "T:00011100", "D:8000D100", "T:00001101", "T:00002101", "D:80000001"}},
        {"read of three bytes: acknowledge all but the last",
         true,
         0xD2,
         2,
         0x0004,
         {0, 0, 0},
         {"D:8000D200", "D:00000000", "D:00000400", "T:00021100", "D:8000D300", "T:00001101", "T:00000301",
          "D:80000001", "T:00000301", "D:80000001", "T:00002101", "D:80000001"}},
        {"read, no data: header and read address only",
         true,
         0xD0,
         1,
         0x04,
         {},
         {"D:8000D000", "D:00000400", "T:00011100", "D:8000D100", "T:00001101"}},
    };
    for (const Case& c : cases) {
        bus.log.clear();
        tagI2cMessage m;
        Fill(m, c.slave, c.width, c.sub, c.bytes);
        const int result = c.read ? engine.I2cEngineRead(m) : engine.I2cEngineWrite(m);
        EXPECT_EQ(result, 1) << c.name;
        EXPECT_EQ(MessageWrites(), c.writes) << c.name;
        const size_t expectedGos = c.read ? 2 + c.bytes.size() : 1 + c.bytes.size();
        EXPECT_EQ(Gos(), expectedGos) << c.name;
    }
}

TEST_F(EngineFixture, ReadStoresTheReceivedBytesFromData) {
    tagI2cMessage m;
    Fill(m, 0xD0, 1, 4, {9, 9, 9, 9});
    // DATA reads after each byte's transaction: byte 0x03, 0x0D, 0x06, 0x01 in bits 15..8.
    bus.QueueRead(kData, {0x00000301, 0x00000D01, 0x00000601, 0xFFFF0101});
    ASSERT_EQ(engine.I2cEngineRead(m), 1);
    EXPECT_EQ(std::vector<unsigned char>(m.data.Data(), m.data.Data() + 4),
              (std::vector<unsigned char>{3, 13, 6, 1}));
}

TEST_F(EngineFixture, AGoThatNeverFinishesEndsAfterTenThousandStatusReads) {
    bus.mem[kStatus] = 0xEF; // every bit but done
    EXPECT_EQ(engine.I2cEngineGo(), 0);
    size_t statusReads = 0;
    for (const RegAccess& a : bus.log)
        statusReads += a.op == RegOp::ReadMem && a.offset == kStatus ? 1 : 0;
    EXPECT_EQ(statusReads, kI2cGoStatusReads);

    // A write whose header does not finish still sends its data; the first failed data byte ends it.
    bus.log.clear();
    tagI2cMessage w;
    Fill(w, 0xD0, 1, 4, {1, 2, 3});
    EXPECT_EQ(engine.I2cEngineWrite(w), 0);
    EXPECT_EQ(Gos(), 2u);
    // A read stops at its header, and the data keeps the caller's bytes.
    bus.log.clear();
    tagI2cMessage r;
    Fill(r, 0xD0, 1, 4, {7, 7});
    EXPECT_EQ(engine.I2cEngineRead(r), 0);
    EXPECT_EQ(Gos(), 1u);
    EXPECT_EQ(r.data[0], 7);
    // A sub-address wider than the engine's four bytes is refused before anything is sent.
    bus.log.clear();
    tagI2cMessage wide;
    Fill(wide, 0xD0, 5, 4, {});
    EXPECT_EQ(engine.I2cEngineWrite(wide), 0);
    EXPECT_TRUE(bus.log.empty());
}

TEST(CRegs, WriteSettlesForTheCountReadAtEachPass) {
    RecordingRegisterBus bus;
    std::atomic<uint32_t> settle{5};
    tagRegWindow window{bus, kBase, settle};
    CRegs<regs::TRegGENERIC_I2C_SETUP> setup(window);
    setup.value = 0x12;
    EXPECT_TRUE(setup.Write());
    EXPECT_EQ(bus.mem[kSetup], 0x12u);
    bus.mem[kSetup] = 0x99;
    EXPECT_EQ(setup.Read(), 0x99u);
}

// A fake display-library call: records each record's fields and bytes, fails the first `failures` calls.
struct FakeAdl : CAdlI2cCall {
    int failures = 0;     // of any call
    int readFailures = 0; // of read calls
    std::vector<std::string> calls;
    std::vector<unsigned char> readBytes{0x03, 0x0D, 0x06, 0x01};
    int32_t Display_WriteAndReadI2CLargePayload(int32_t adapter, ADLI2CLargePayload* r) override {
        std::string line = std::to_string(adapter) + " size=" + std::to_string(r->iSize) +
                           " line=" + std::to_string(r->iLine) + " addr=" + std::to_string(r->iAddress) +
                           " action=" + std::to_string(r->iAction) + " speed=" + std::to_string(r->iSpeed) +
                           " n=" + std::to_string(r->iDataSize);
        if (r->iAction == kAdlI2cActionWrite) {
            for (int32_t i = 0; i < r->iDataSize; ++i)
                line += " " + std::to_string(static_cast<unsigned char>(r->pBuffer[i]));
        }
        calls.push_back(line);
        if (failures > 0) {
            --failures;
            return -1;
        }
        if (r->iAction == kAdlI2cActionRead && readFailures > 0) {
            --readFailures;
            return -1;
        }
        if (r->iAction == kAdlI2cActionRead)
            for (int32_t i = 0; i < r->iDataSize && static_cast<size_t>(i) < readBytes.size(); ++i)
                r->pBuffer[i] = static_cast<char>(readBytes[static_cast<size_t>(i)]);
        return kAdlOk;
    }
};

TEST(AdlI2c, RetriesLogAndCloseTheDesktopManagerBeforeEachRetryOnly) {
    const std::string size = std::to_string(sizeof(ADLI2CLargePayload));
    struct Case {
        uint32_t retries;
        int failures;
        int result;
        std::vector<std::wstring> log;
    };
    const Case cases[] = {
        {0, 1, 0, {}}, // retry count 0: one attempt, nothing logged
        {10, 2, 1, {L"\ni2c write failed at address D0 \n", L"\ni2c write failed at address D0 \n"}},
        {2, 5, 0, {L"\ni2c write failed at address D0 \n", L"\ni2c write failed at address D0 \n"}},
    };
    for (const Case& c : cases) {
        SpeedScope speed(600, c.retries);
        FakeAdl adl;
        adl.failures = c.failures;
        std::vector<std::wstring> log;
        int closes = 0;
        tagAdlI2cHooks hooks{[&](const wchar_t* t) { log.push_back(t); }, [&] { ++closes; }};
        const unsigned char data[] = {0xAA};
        EXPECT_EQ(I2cAdlWrite(adl, hooks, 3, 0xD0, 0x0034, data, 1), c.result);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(closes, static_cast<int>(c.log.size()));
        EXPECT_EQ(adl.calls[0], "3 size=" + size + " line=4 addr=208 action=2 speed=600 n=3 0 52 170");
    }
}

TEST(AdlI2c, ReadSendsTheSubAddressThenReadsWithItsOwnMessages) {
    SpeedScope speed(800, 2);
    FakeAdl adl;
    adl.failures = 2; // the sub-address write fails twice, then goes through
    std::vector<std::wstring> log;
    tagAdlI2cHooks hooks{[&](const wchar_t* t) { log.push_back(t); }, nullptr};
    unsigned char bytes[3] = {};
    EXPECT_EQ(I2cAdlRead(adl, hooks, 0, 0xD2, 4, bytes, 3), 1);
    EXPECT_EQ(log, (std::vector<std::wstring>(2, L"\ni2c read write failed at address D2 \n")));
    ASSERT_EQ(adl.calls.size(), 4u);
    EXPECT_NE(adl.calls[2].find(" action=2 speed=800 n=2 0 4"), std::string::npos);
    EXPECT_NE(adl.calls[3].find(" action=1 speed=800 n=3"), std::string::npos);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 3), (std::vector<unsigned char>{3, 13, 6}));
    adl.readFailures = 3; // the read fails after the write went through: its own message
    log.clear();
    EXPECT_EQ(I2cAdlRead(adl, hooks, 0, 0xD2, 4, bytes, 3), 0);
    EXPECT_EQ(log, (std::vector<std::wstring>(2, L"\ni2c read failed at address D2 \n")));
    EXPECT_EQ(I2cAdlRead(adl, hooks, 0, 0xD2, 4, nullptr, 3), 0);
    EXPECT_EQ(I2cAdlRead(adl, hooks, 0, 0xD2, 4, bytes, 0), 0);
}

TEST(QSeriesI2c, DisplayLibraryWritesGoInPiecesOf64ToTheSameSubAddress) {
    SpeedScope speed(800);
    RecordingRegisterBus bus;
    CQSeries card(bus);
    tagDeviceUpdate job;
    job.adlIndex = 5;
    card.job = &job;
    FakeAdl adl;
    adl.failures = 1; // the first piece fails; the others are still sent
    card.adl = &adl;
    std::vector<unsigned char> data(130, 0x11);
    EXPECT_EQ(card.I2cWrite(0xD0, 1, 0x35, 130, data.data()), 0);
    ASSERT_EQ(adl.calls.size(), 3u);
    EXPECT_NE(adl.calls[0].find(" n=66 0 53 17"), std::string::npos);
    EXPECT_NE(adl.calls[2].find(" n=4 0 53 17 17"), std::string::npos);
    EXPECT_EQ(card.I2cEngineAcquire(), 1);
    EXPECT_TRUE(bus.log.empty()); // the engine is never touched on the display-library route
}

TEST(QSeriesI2c, EngineVersionReadDecidesOnlyOnBytesThatWereRead) {
    struct Case {
        std::vector<uint32_t> dataReads; // DATA values of the first 0xD0 read
        bool done;
        std::wstring text;
        bool allows;
    };
    const Case cases[] = {
        {{0x0301, 0x0D01, 0x0601, 0x0101}, true, L"1.6.13", true},
        {{0x0301, 0x0C01, 0x0601, 0x0101}, true, L"1.6.12", false},
        {{0x0301, 0x0001, 0x0701, 0x0101}, true, L"1.7.0", true},
        {{0x0301, 0x0001, 0x0001, 0xFF01}, true, L"255.0.0", false},
        {{0x0301, 0x0D01, 0x0601, 0x0101}, false, L"0.0.000", false},
    };
    for (const Case& c : cases) {
        RecordingRegisterBus bus;
        bus.mem[kStatus] = c.done ? 0x10 : 0;
        bus.QueueRead(kData, c.dataReads);
        CQSeries card(bus);
        tagDeviceUpdate job;
        job.regBase = kBase;
        job.settleCount = 0;
        card.job = &job;
        const FpgaVersion v = card.GetFpgaVersion();
        EXPECT_EQ(v.text, c.text);
        EXPECT_EQ(v.allowsFlashImage, c.allows) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(bus.Values(RegOp::WriteMem, kPins).back(), 0x7F7Fu); // released
    }
    // No window: nothing is touched.
    RecordingRegisterBus bus;
    CQSeries card(bus);
    tagDeviceUpdate job;
    card.job = &job;
    EXPECT_EQ(card.GetFpgaVersion().text, L"0.0.000");
    EXPECT_TRUE(bus.log.empty());
}

} // namespace
