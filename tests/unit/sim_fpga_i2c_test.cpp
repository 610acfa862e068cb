// The FPGA's I2C side: the slaves' sub-addresses, the two version-read patterns at the byte level, the
// bridge's registers and the SPI frames they make, the whole card through the GPU engine, and the FPGA
// configuring from the flash behind 0xD0 at power-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "fakes/TempFolder.h"
#include "sim/CardI2c.h"
#include "sim/Fpga.h"
#include "sim/FpgaImage.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace sim::i2c;

// Drives the engine's registers as a driver does: a header transaction with the address and sub-address,
// then one data byte per transaction; a read with a repeated start. True when every transaction finished
// without a not-acknowledged byte.
class EngineMaster {
public:
    explicit EngineMaster(sim::I2cEngine& engine) : engine_(engine) {}
    void Acquire(uint32_t prescale = 17) {
        engine_.Write(kControl, kControlEnable | kControlSoftReset);
        engine_.Write(kControl, kControlEnable);
        engine_.Write(kPinSelection, kClockPin | kDataPin << 8);
        engine_.Write(kSetup, 0xFFu << kSetupTimeLimitShift);
        engine_.Write(kSpeed, prescale << kSpeedPrescaleShift);
    }
    bool Write(uint8_t slave, uint32_t width, uint32_t sub, const Bytes& data) {
        bool ok = Header(slave, width, sub);
        for (size_t i = 0; i < data.size(); ++i) {
            Load({data[i]});
            ok = Go(kTransactionStopOnNack | (i + 1 == data.size() ? kTransactionStop : 0)) && ok;
        }
        return ok;
    }
    bool Read(uint8_t slave, uint32_t width, uint32_t sub, size_t count, Bytes& out) {
        if (!Header(slave, width, sub))
            return false;
        Load({uint8_t(slave | 1)});
        if (!Go(kTransactionRead | kTransactionStart | kTransactionStopOnNack))
            return false;
        out.clear();
        for (size_t i = 0; i < count; ++i) {
            const bool last = i + 1 == count;
            if (!Go(kTransactionRead | kTransactionStopOnNack | (last ? kTransactionStop : kTransactionAck)))
                return false;
            engine_.Write(kData, kDataRead | kDataIndexWrite);
            out.push_back(uint8_t(engine_.Read(kData) >> kDataByteShift));
        }
        return true;
    }

private:
    bool Header(uint8_t slave, uint32_t width, uint32_t sub) {
        Bytes bytes = {slave};
        for (uint32_t i = 0; i < width; ++i)
            bytes.push_back(uint8_t(sub >> (8 * (width - 1 - i))));
        Load(bytes);
        return Go(kTransactionStart | kTransactionStopOnNack | width << kTransactionCountShift);
    }
    void Load(const Bytes& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i)
            engine_.Write(kData, uint32_t(bytes[i]) << kDataByteShift | (i == 0 ? kDataIndexWrite : 0));
    }
    bool Go(uint32_t tx) {
        engine_.Write(kTransaction, tx);
        engine_.Write(kControl, engine_.Read(kControl) | kControlGo);
        const uint32_t status = engine_.Read(kStatus);
        return (status & kStatusDone) && !(status & kStatusNack);
    }
    sim::I2cEngine& engine_;
};

sim::CardI2cSettings Settings(const sim::FirmwareVersion& version = {1, 7, 2},
                              const char* part = "W25Q64FV") {
    sim::CardI2cSettings s;
    s.fpga.version = version;
    for (sim::SpiFlashSettings& flash : s.flash) {
        flash.part = part;
        flash.factoryImageBytes = 0;
    }
    return s;
}

TEST(SimFpgaI2c, TheFirstTwoBytesOfAWriteShiftIntoThePointer) {
    struct Case {
        Bytes written;
        uint16_t pointer;
        uint64_t ignored;
    } cases[] = {
        {{0x04}, 0x0004, 0},
        {{0x00, 0x04}, 0x0004, 0},
        {{0x12, 0x34}, 0x1234, 0},
        {{0x04, 0x00, 0x00, 0x00, 0x00}, 0x0403, 3}, // a one-byte sub-address with data: 0x0400 on
        {{0x00, 0x05, 0xAA}, 0x0006, 1},             // the version is read only
        {{}, 0x0000, 0},                             // the address alone keeps the pointer
        {{0x00, 0x35, 1, 2, 3}, 0x0035, 0},          // the data port keeps it
    };
    for (const Case& c : cases) {
        sim::CardI2c card(Settings());
        card.Bus().WriteTransfer(0xD2, c.written.data(), c.written.size());
        EXPECT_EQ(card.Fpga().Slave(1).Pointer(), c.pointer) << c.written.size();
        EXPECT_EQ(card.Fpga().Slave(1).Counters().ignoredWrites, c.ignored) << c.written.size();
        EXPECT_EQ(card.Fpga().Slave(0).Pointer(), 0) << "only the addressed slave";
    }
}

// (a) on the GPU engine: four zero bytes to sub-address 4 (one-byte sub-address), then four bytes read back
// the same way, and the same read with the two-byte sub-address; (b) as the display driver does it: the
// two sub-address bytes with a stop, then a separate read of three bytes.
TEST(SimFpgaI2c, BothVersionReadPatternsGiveTheRunningVersion) {
    const sim::FirmwareVersion versions[] = {{1, 6, 13}, {1, 6, 12}, {1, 7, 2}, {2, 0, 0}, {255, 1, 9}};
    for (const sim::FirmwareVersion& v : versions) {
        sim::CardI2c card(Settings(v));
        EngineMaster master(card.Engine());
        master.Acquire();
        for (const uint8_t slave : std::initializer_list<uint8_t>{0xD0, 0xD2, 0xD4}) {
            Bytes a, aWide, b(3);
            EXPECT_TRUE(master.Write(slave, 1, 4, {0, 0, 0, 0}));
            ASSERT_TRUE(master.Read(slave, 1, 4, 4, a));
            EXPECT_EQ(a, (Bytes{3, v.build, v.minor, v.major}))
                << sim::FormatVersion(v) << " at " << int(slave);
            ASSERT_TRUE(master.Read(slave, 2, 4, 4, aWide));
            EXPECT_EQ(aWide, a) << sim::FormatVersion(v);
            const uint8_t sub[] = {0x00, 0x04};
            ASSERT_TRUE(card.Bus().WriteTransfer(slave, sub, 2));
            ASSERT_TRUE(card.Bus().ReadTransfer(slave, b.data(), 3));
            EXPECT_EQ(b, (Bytes{v.build, v.minor, v.major})) << sim::FormatVersion(v) << " at " << int(slave);
        }
    }
}

TEST(SimFpgaI2c, VersionPatternsOnTheWire) {
    TempFolder temp;
    const std::string path = temp.Path() + "/trace.txt";
    {
        sim::Trace trace;
        trace.Add(sim::TraceFile::Open(path), "");
        sim::CardI2c card(Settings({1, 6, 13}));
        card.SetTrace(&trace);
        EngineMaster master(card.Engine());
        master.Acquire(34);
        Bytes a, b(3);
        master.Write(0xD0, 1, 4, {0, 0, 0, 0});
        master.Read(0xD0, 1, 4, 4, a);
        const uint8_t sub[] = {0x00, 0x04};
        card.Bus().WriteTransfer(0xD0, sub, 2);
        card.Bus().ReadTransfer(0xD0, b.data(), 3);
        trace.Flush();
    }
    EXPECT_EQ(ReadFileText(path), "i2c 397kHz S D0+ 04+ 00+ 00+ 00+ 00+ P\n"
                                  "i2c 397kHz S D0+ 04+ Sr D1+ 03+ 0D+ 06+ 01- P\n"
                                  "i2c 397kHz S D0+ 00+ 04+ P\n"
                                  "i2c 397kHz S D1+ 0D+ 06+ 01- P\n");
}

TEST(SimFpgaI2c, AnUnconfiguredFpgaOrASilentSlaveDoesNotAnswer) {
    struct Case {
        sim::FirmwareVersion version;
        std::array<bool, 3> silent;
        std::array<bool, 3> answers;
    } cases[] = {
        {{0, 0, 0}, {false, false, false}, {false, false, false}},
        {{1, 7, 2}, {false, true, false}, {true, false, true}},
        {{1, 7, 2}, {true, true, true}, {false, false, false}},
    };
    for (const Case& c : cases) {
        sim::CardI2cSettings s = Settings(c.version);
        s.fpga.silent = c.silent;
        sim::CardI2c card(s);
        EngineMaster master(card.Engine());
        master.Acquire();
        for (size_t i = 0; i < 3; ++i) {
            Bytes version;
            EXPECT_EQ(master.Read(sim::fpgai2c::kSlaveAddresses[i], 2, 4, 4, version), c.answers[i]) << i;
            uint8_t b[3] = {};
            EXPECT_EQ(card.Bus().ReadTransfer(sim::fpgai2c::kSlaveAddresses[i], b, 3), c.answers[i]) << i;
        }
        EXPECT_EQ(card.Engine().Read(kStatus),
                  c.answers[2] ? kStatusDone : kStatusDone | kStatusNack | kStatusStoppedOnNack);
    }
}

// A device that writes down each frame: "S", the bytes sent, "P"; it answers 0xA0, 0xA1, ... to each byte.
class SpiLog : public sim::SpiDevice {
public:
    void Select() override { Add("S"); }
    uint8_t Transfer(uint8_t mosi) override {
        char t[4];
        std::snprintf(t, sizeof t, "%02X", mosi);
        Add(t);
        return next_++;
    }
    void Deselect() override { Add("P"); }
    std::string log;

private:
    void Add(const char* s) { log += (log.empty() ? "" : " ") + std::string(s); }
    uint8_t next_ = 0xA0;
};

// What each register value does, as sequences of bridge register writes.
TEST(SimSpiBridge, RegisterValuesMakeTheFramesTheyMean) {
    using K = sim::SpiBridgeMisuse;
    struct Write {
        uint16_t reg;
        uint8_t value;
    };
    struct Case {
        const char* name;
        std::vector<Write> writes;
        const char* frames;
        uint8_t dataIn;
        int misuse; // -1: none
    } cases[] = {
        {"write enable: open, last, the byte", {{0x34, 0x01}, {0x34, 0x21}, {0x35, 0x06}}, "S 06 P", 0, -1},
        {"written bytes: the frame ends after the byte marked last",
         {{0x34, 0x01}, {0x35, 0x20}, {0x35, 0x01}, {0x35, 0x02}, {0x34, 0x21}, {0x35, 0x03}, {0x34, 0x20}},
         "S 20 01 02 03 P",
         0,
         -1},
        {"reading: receive latches the byte clocked in by the 0 written",
         {{0x34, 0x01}, {0x35, 0x05}, {0x34, 0x11}, {0x34, 0x31}, {0x35, 0x00}, {0x34, 0x20}},
         "S 05 00 P",
         0xA1,
         -1},
        {"reading two bytes keeps the last one latched",
         {{0x34, 0x01}, {0x35, 0x90}, {0x34, 0x11}, {0x35, 0x00}, {0x34, 0x31}, {0x35, 0x00}, {0x34, 0x20}},
         "S 90 00 00 P",
         0xA2,
         -1},
        {"0x20 ends an open frame", {{0x34, 0x01}, {0x35, 0x05}, {0x34, 0x20}}, "S 05 P", 0, -1},
        {"0x01 in an open frame goes on with it",
         {{0x34, 0x01}, {0x35, 0x05}, {0x34, 0x01}, {0x35, 0x06}, {0x34, 0x20}},
         "S 05 06 P",
         0,
         -1},
        {"data out with no frame goes nowhere", {{0x35, 0x06}}, "", 0, int(K::DataWithoutFrame)},
        {"page mode: the buffer goes out as one frame at the send bit",
         {{0x37, 0x01}, {0x37, 0x03}, {0x35, 0x02}, {0x35, 0x00}, {0x35, 0x10}, {0x37, 0x03}, {0x37, 0x00}},
         "S 02 00 10 P",
         0,
         -1},
        {"the send bit with an empty buffer sends nothing",
         {{0x37, 0x03}, {0x37, 0x03}, {0x37, 0x00}},
         "",
         0,
         -1},
        {"ending page mode drops what the buffer holds",
         {{0x37, 0x01}, {0x35, 0x02}, {0x37, 0x00}, {0x37, 0x03}},
         "",
         0,
         int(K::PageDiscarded)},
        {"frame control works in page mode",
         {{0x37, 0x01}, {0x34, 0x01}, {0x34, 0x21}, {0x35, 0x06}, {0x35, 0x02}, {0x37, 0x03}},
         "S 06 P S 02 P",
         0,
         -1},
        {"a page sent while a frame is open ends that frame first",
         {{0x37, 0x01}, {0x35, 0x02}, {0x34, 0x01}, {0x35, 0x05}, {0x37, 0x03}},
         "S 05 P S 02 P",
         0,
         int(K::FrameCutOff)},
        {"data in is read only", {{0x36, 0x12}}, "", 0, int(K::DataInWrite)},
    };
    for (const Case& c : cases) {
        SpiLog device;
        sim::SpiBridge bridge(device);
        for (const Write& w : c.writes)
            bridge.Write(w.reg, w.value);
        EXPECT_EQ(device.log, c.frames) << c.name;
        EXPECT_EQ(bridge.Read(0x36), c.dataIn) << c.name;
        EXPECT_EQ(bridge.Record().Total(), c.misuse < 0 ? 0u : 1u) << c.name;
        if (c.misuse >= 0) {
            EXPECT_EQ(bridge.Record().Count(K(c.misuse)), 1u) << c.name;
        }
    }
}

TEST(SimSpiBridge, RegistersReadBackTheirState) {
    SpiLog device;
    sim::SpiBridge bridge(device);
    bridge.Write(0x34, 0x31);
    EXPECT_EQ(bridge.Read(0x34), 0x31);
    bridge.Write(0x35, 0x77);
    EXPECT_EQ(bridge.Read(0x34), 0x00); // the last byte ended the frame
    EXPECT_EQ(bridge.Read(0x35), 0x77);
    bridge.Write(0x37, 0x01);
    EXPECT_EQ(bridge.Read(0x37), 0x01);
    bridge.Write(0x35, 0x02);
    EXPECT_EQ(bridge.Read(0x37), 0x03); // bytes waiting
    Bytes many(300, 0x11);
    for (uint8_t b : many)
        bridge.Write(0x35, b);
    EXPECT_EQ(bridge.Record().Count(sim::SpiBridgeMisuse::PageBufferFull), 300u + 1 - 260);
    bridge.Write(0x37, 0x03);
    EXPECT_EQ(bridge.Counters().pageFrames, 1u);
    EXPECT_EQ(bridge.Counters().bytesOut, 1u + 260u);
}

// A 260-byte page frame in 64-byte pieces reaches the flash as one frame on both routes: the display
// driver's (one transfer per piece) and the engine's (one byte per transaction).
TEST(SimSpiBridge, APageFrameInPiecesThroughTheSlaveIsOneFrame) {
    for (bool engineRoute : {false, true}) {
        sim::CardI2c card(Settings());
        EngineMaster master(card.Engine());
        master.Acquire();
        Bytes frame = {0x02, 0x00, 0x30, 0x00};
        for (int i = 0; i < 256; ++i)
            frame.push_back(uint8_t(i));
        auto write = [&](uint16_t reg, const Bytes& data) {
            if (engineRoute)
                return master.Write(0xD4, 2, reg, data);
            Bytes out = {uint8_t(reg >> 8), uint8_t(reg)};
            out.insert(out.end(), data.begin(), data.end());
            return card.Bus().WriteTransfer(0xD4, out.data(), out.size());
        };
        ASSERT_TRUE(write(0x34, {0x01}));
        ASSERT_TRUE(write(0x34, {0x21}));
        ASSERT_TRUE(write(0x35, {0x06}));
        ASSERT_TRUE(write(0x37, {0x01}));
        ASSERT_TRUE(write(0x37, {0x03}));
        for (size_t at = 0; at < frame.size(); at += 64)
            ASSERT_TRUE(write(0x35, Bytes(frame.begin() + long(at),
                                          frame.begin() + long(std::min(at + 64, frame.size())))));
        ASSERT_TRUE(write(0x37, {0x03}));
        ASSERT_TRUE(write(0x37, {0x00}));
        const sim::SpiFlash& flash = card.Flash(2);
        EXPECT_EQ(flash.Counters().programs, 1u) << engineRoute;
        EXPECT_EQ(flash.Record().Total(), 0u) << engineRoute;
        const Bytes& m = card.Flash(2).Contents();
        EXPECT_EQ(Bytes(m.begin() + 0x3000, m.begin() + 0x3100), Bytes(frame.begin() + 4, frame.end()))
            << engineRoute;
        EXPECT_EQ(card.Flash(0).Counters().frames, 0u) << "the other slaves' flashes saw nothing";
    }
}

TEST(SimSpiBridge, LogicOlderThanTheBridgeHasNone) {
    sim::CardI2c card(Settings({1, 6, 12}));
    const uint8_t enable[] = {0x00, 0x34, 0x01};
    ASSERT_TRUE(card.Bus().WriteTransfer(0xD0, enable, 3));
    EXPECT_EQ(card.Fpga().Slave(0).Counters().ignoredWrites, 1u);
    EXPECT_EQ(card.Fpga().Slave(0).Bridge().Counters().frames, 0u);
    card.Fpga().SetRunningVersion({1, 6, 13});
    ASSERT_TRUE(card.Bus().WriteTransfer(0xD0, enable, 3));
    EXPECT_EQ(card.Fpga().Slave(0).Bridge().Counters().frames, 1u);
}

// A bridged command through the engine, with the frame-control values: `out` sent, `in` bytes read.
Bytes SpiCommand(EngineMaster& m, uint8_t slave, const Bytes& out, size_t in) {
    Bytes got;
    m.Write(slave, 2, 0x34, {0x01});
    for (size_t i = 0; i < out.size(); ++i) {
        if (in == 0 && i + 1 == out.size())
            m.Write(slave, 2, 0x34, {0x21});
        m.Write(slave, 2, 0x35, {out[i]});
    }
    if (in > 0)
        m.Write(slave, 2, 0x34, {0x11});
    for (size_t i = 0; i < in; ++i) {
        if (i + 1 == in)
            m.Write(slave, 2, 0x34, {0x31});
        m.Write(slave, 2, 0x35, {0x00});
        Bytes b;
        m.Read(slave, 2, 0x36, 1, b);
        got.push_back(b.empty() ? 0xFF : b[0]);
    }
    m.Write(slave, 2, 0x34, {0x20});
    return got;
}

TEST(SimCardI2c, TheEngineReachesEachFlashThroughItsBridge) {
    TempFolder temp;
    const std::string tracePath = temp.Path() + "/trace.txt";
    sim::Trace trace;
    trace.Add(sim::TraceFile::Open(tracePath), "");
    sim::CardI2c card(Settings({1, 7, 2}, "Pm25LD020"));
    card.SetTrace(&trace);
    EngineMaster m(card.Engine());
    m.Acquire();
    for (const uint8_t slave : std::initializer_list<uint8_t>{0xD0, 0xD2, 0xD4}) {
        EXPECT_EQ(SpiCommand(m, slave, {0x90, 0, 0, 0}, 2), (Bytes{0x9D, 0x11}));
        SpiCommand(m, slave, {0x06}, 0);
        SpiCommand(m, slave, {0x20, 0x00, 0x10, 0x00}, 0); // 4 KB at 0x1000
        int polls = 0;
        while ((SpiCommand(m, slave, {0x05}, 1)[0] & 1) && polls < 2000)
            ++polls;
        EXPECT_EQ(polls, 134) << int(slave);
        SpiCommand(m, slave, {0x06}, 0);
        SpiCommand(m, slave, {0x02, 0x00, 0x10, 0x00, slave, 0x5A}, 0);
        EXPECT_EQ(SpiCommand(m, slave, {0x03, 0x00, 0x10, 0x00}, 3), (Bytes{0xFF, 0xFF, 0xFF}))
            << "busy: the read is refused";
        while ((SpiCommand(m, slave, {0x05}, 1)[0] & 1) && polls < 4000)
            ++polls;
        EXPECT_EQ(SpiCommand(m, slave, {0x03, 0x00, 0x10, 0x00}, 3), (Bytes{slave, 0x5A, 0xFF}));
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(card.Flash(i).Record().Count(sim::SpiFlashMisuse::CommandWhileBusy), 1u) << i;
    trace.Flush();
    const std::string text = ReadFileText(tracePath);
    for (const char* line :
         {"spi D2 90 id 9D 11\n", "spi D2 06 write enable\n", "spi D2 20 erase 0x001000 +0x1000\n",
          "spi D2 05 status 0x03\n", "spi D2 02 program 0x001000 +2\n", "spi D2 03 read 0x001000 +3\n",
          "i2c 794kHz S D4+ 00+ 36+ Sr D5+ 5A- P\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(SimCardI2c, APageFrameCostsItsBusClocksAndTransactions) {
    sim::CardI2c card(Settings());
    EngineMaster m(card.Engine());
    m.Acquire();
    // One page on one slave: write enable, page mode, the frame in 64-byte pieces, page mode off.
    Bytes frame = {0x02, 0x00, 0x00, 0x00};
    frame.resize(260, 0x3C);
    SpiCommand(m, 0xD0, {0x06}, 0);
    const uint64_t before = card.Bus().Counters().clocks;
    m.Write(0xD0, 2, 0x37, {0x03});
    for (size_t at = 0; at < frame.size(); at += 64)
        m.Write(0xD0, 2, 0x35,
                Bytes(frame.begin() + long(at), frame.begin() + long(std::min(at + 64, frame.size()))));
    m.Write(0xD0, 2, 0x37, {0x03});
    // Each piece: address, two sub-address bytes and the data, nine clocks a byte, a start and a stop.
    EXPECT_EQ(card.Bus().Counters().clocks - before, 2 * 38u + 4 * (2 + 9 * 67u) + (2 + 9 * 7u));
    EXPECT_EQ(card.Flash(0).Contents()[0x80], 0x3C);
    // Write enable: four one-byte register writes of two transactions each; then the pieces and page mode.
    EXPECT_EQ(card.Engine().Counters().gos, 4 * 2u + 2 + 4 * (1 + 64u) + (1 + 4) + 2);
}

TEST(SimCardI2c, TheFpgaConfiguresFromTheFlashBehindD0AtPowerUp) {
    TempFolder temp;
    const sim::PciFunction function = sim::Q740Card(3, 0xFE800000u);
    sim::FirmwareVersion running;
    std::string error;
    EXPECT_EQ(sim::BootFpgaFromFlash(temp.Path(), function, 0, running, error), sim::FlashBoot::Untouched);

    const std::vector<uint8_t> file = sim::MakeFirmwareFile({1, 7, 2}, 5000);
    size_t at = 0;
    ASSERT_TRUE(sim::FindBitstreamMarker(file.data(), file.size(), at));
    sim::CardI2cSettings s = Settings({1, 6, 13}, "Pm25LD040");
    sim::KeepFlashesInMachine(s, temp.Path(), function);
    EXPECT_EQ(s.flash[0].file, temp.Path() + "/cards/03-00.0/flash-d0.bin");
    {
        sim::CardI2c card(s);
        sim::SpiFlash& flash = card.Flash(0);
        for (size_t page = 0; page * 256 < file.size() - at; ++page) {
            flash.Select();
            flash.Transfer(0x06);
            flash.Deselect();
            flash.Select();
            for (uint8_t b : {uint8_t(0x02), uint8_t(page >> 8), uint8_t(page), uint8_t(0)})
                flash.Transfer(b);
            for (size_t i = at + page * 256; i < at + page * 256 + 256 && i < file.size(); ++i)
                flash.Transfer(file[i]);
            flash.Deselect();
            for (int poll = 0; poll < 10; ++poll) {
                flash.Select();
                flash.Transfer(0x05);
                flash.Transfer(0);
                flash.Deselect();
            }
        }
    }
    ASSERT_EQ(sim::BootFpgaFromFlash(temp.Path(), function, 0, running, error), sim::FlashBoot::Configured)
        << error;
    EXPECT_EQ(running, (sim::FirmwareVersion{1, 7, 2}));
    uint8_t major = 0, minor = 0, build = 0;
    ASSERT_TRUE(sim::ReadFpgaVersion(temp.Path(), function, 0, major, minor, build));
    EXPECT_EQ(sim::FormatVersion({major, minor, build}), "1.7.2");

    {
        sim::CardI2c card(s); // clearing the bits of the information block's tag spoils the image
        sim::SpiFlash& flash = card.Flash(0);
        flash.Select();
        flash.Transfer(0x06);
        flash.Deselect();
        flash.Select();
        for (uint8_t b :
             {uint8_t(0x02), uint8_t(0), uint8_t(0), uint8_t(sim::kBitstreamMarkerSize), uint8_t(0)})
            flash.Transfer(b);
        flash.Deselect();
    }
    EXPECT_EQ(sim::BootFpgaFromFlash(temp.Path(), function, 0, running, error), sim::FlashBoot::Unconfigured);
    EXPECT_EQ(running, sim::FirmwareVersion{});
    ASSERT_TRUE(sim::ReadFpgaVersion(temp.Path(), function, 0, major, minor, build));
    EXPECT_EQ(sim::FormatVersion({major, minor, build}), "0.0.0");
}

} // namespace
