// The simulated FPGA end to end: update streams made by the generator are played by the real interpreter
// through the real port layer into a TAP model of this test, which calls the FPGA on each TCK rising edge;
// the end-of-update pulse on line 6 then loads the store, and the version the card runs is read back the
// way the rest of the simulator reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fakes/FakePlatform.h"
#include "sim/Card.h"
#include "sim/Fpga.h"
#include "sim/FpgaStream.h"
#include "sim/Machine.h"
#include "update/JtagPort.h"
#include "update/TapState.h"
#include "update/XsvfPlayer.h"

namespace {

namespace fs = std::filesystem;

// GPIO lines to the TAP: TCK rising edges move the TAP and call the device in the state they leave (capture,
// shift, Run-Test/Idle clocks) or enter (update, reset); a rising line 6 under GPIO control is the pulse.
class TapBus : public RegisterBus {
public:
    explicit TapBus(sim::JtagDevice& device) : device_(device) {}

    uint32_t ReadMem(uintptr_t, uint32_t offset) override {
        return offset == kGpioInput && device_.Tdo() ? 1u : 0u;
    }
    void WriteMem(uintptr_t, uint32_t offset, uint32_t value) override {
        if (offset == kGpioMask)
            mask_ = value;
        if (offset != kGpioOutput)
            return;
        if ((value & kLineTck) && !(output_ & kLineTck))
            Edge((value & kLineTms) != 0, (value & 0x800) != 0);
        if ((value & kLineDone) && !(output_ & kLineDone) && (mask_ & kLineDone))
            device_.DonePulse();
        output_ = value;
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

private:
    void Edge(bool tms, bool tdi) {
        switch (state_) {
        case TapState::CaptureIr:
            device_.CaptureIr();
            break;
        case TapState::ShiftIr:
            device_.ShiftIr(tdi);
            break;
        case TapState::CaptureDr:
            device_.CaptureDr();
            break;
        case TapState::ShiftDr:
            device_.ShiftDr(tdi);
            break;
        case TapState::RunTestIdle:
            device_.RunTestClock();
            break;
        default:
            break;
        }
        const TapState next = Next(state_, tms);
        if (next == TapState::UpdateIr)
            device_.UpdateIr();
        else if (next == TapState::UpdateDr)
            device_.UpdateDr();
        else if (next == TapState::TestLogicReset && state_ != TapState::TestLogicReset)
            device_.Reset();
        state_ = next;
    }

    sim::JtagDevice& device_;
    TapState state_ = TapState::TestLogicReset;
    uint32_t mask_ = 0;
    uint32_t output_ = 0;
};

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The configuration data of a firmware file: from the marker on.
Bytes ConfigData(const Bytes& file) {
    size_t at = 0;
    EXPECT_TRUE(sim::FindBitstreamMarker(file.data(), file.size(), at));
    return Bytes(file.begin() + long(at), file.end());
}

Bytes Stream(const Bytes& file, const sim::UpdateStreamOptions& options = {}) {
    Bytes stream;
    std::string error;
    EXPECT_TRUE(sim::MakeUpdateStream(file.data(), file.size(), options, stream, error)) << error;
    return stream;
}

// A stream of the protocol's framing around `words`: identify, enable, erase and poll, the words by burst
// (none: an erase alone), leave configuration mode.
Bytes FramedStream(const std::vector<uint32_t>& words) {
    using namespace sim::fpga;
    sim::XsvfWriter w;
    w.Sir(6, kIrIdcode);
    w.SdrSize(32);
    w.TdoMask(sim::XsvfWriter::Vector(kIdcodeMask, 32));
    w.SdrTdo(sim::XsvfWriter::Vector(0, 32), sim::XsvfWriter::Vector(kDefaultIdcode, 32));
    w.Sir(6, kIrEnable);
    w.SdrE(sim::XsvfWriter::Vector(kEnableKey, 32));
    w.Sir(6, kIrErase);
    w.SdrE(sim::XsvfWriter::Vector(kEraseKey, 32));
    w.Sir(6, kIrStatus);
    w.SdrSize(8);
    w.TdoMask(sim::XsvfWriter::Vector(0xFF, 8));
    w.RunTest(1000);
    w.Repeat(10);
    w.SdrTdo(sim::XsvfWriter::Vector(0, 8), sim::XsvfWriter::Vector(0xA6, 8));
    w.Repeat(0);
    w.RunTest(0);
    if (!words.empty()) {
        w.Sir(6, kIrBurst);
        w.SdrSize(uint32_t(words.size() * 32));
        w.SdrE(sim::XsvfWriter::Words(words.data(), words.size()));
    }
    w.Sir2(6, kIrDone);
    w.Complete();
    return w.Stream();
}

// The stream cut just before the comment that begins with `text`.
Bytes CutAt(const Bytes& stream, const std::string& text) {
    const auto at = std::search(stream.begin(), stream.end(), text.begin(), text.end());
    EXPECT_NE(at, stream.end());
    return Bytes(stream.begin(), at - 1);
}

class SimFpgaTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vsk-fpga-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        card_ = sim::Q740Card(3, 0xFE800000);
        firmware_ = sim::MakeFirmwareFile({1, 7, 2}, 8192);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Plays the stream into a fresh FPGA of the card; with `pulse` the port is closed as after a successful
    // update, whatever the result.
    int32_t Play(const Bytes& stream, bool pulse) {
        const std::unique_ptr<uint8_t[]> copy(new uint8_t[stream.size()]); // exact size: overreads are caught
        std::copy(stream.begin(), stream.end(), copy.get());
        const std::unique_ptr<sim::JtagDevice> fpga = sim::MakeFpga(card_, dir_.string(), 0);
        TapBus bus(*fpga);
        tagDeviceUpdate job;
        job.portMode = kPortFixedSettle;
        job.settleCount = 0;
        job.gpioImage = kLineTms;
        job.stream = copy.get();
        job.streamSize = uint32_t(stream.size());
        const int32_t result = PlayXsvf(job, bus);
        if (pulse) {
            FakeClock clock;
            CloseJtagPort(job, bus, clock, true);
        }
        return result;
    }

    std::string Version() {
        uint8_t major = 0xEE, minor = 0xEE, build = 0xEE;
        if (!sim::ReadFpgaVersion(dir_.string(), card_, 0, major, minor, build))
            return "unreadable";
        return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
    }

    fs::path Store() const { return fs::path(sim::FpgaFolder(dir_.string(), card_)) / "config.bin"; }

    void Set(const std::string& key, const std::string& value) { card_.extra.emplace_back(key, value); }

    fs::path dir_;
    sim::PciFunction card_;
    Bytes firmware_;
};

TEST_F(SimFpgaTest, GoodStreamProgramsTheStoreAndThePulseRunsTheNewVersion) {
    EXPECT_EQ(Version(), "1.6.10");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Play(Stream(firmware_), false), kXsvfSuccess);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(ReadFile(Store()), ConfigData(firmware_));
    EXPECT_EQ(Version(), "1.6.10"); // the store is loaded only at the pulse

    EXPECT_EQ(Play({0x00}, true), kXsvfSuccess); // a later process gives the pulse
    EXPECT_EQ(Version(), "1.7.2");
    EXPECT_TRUE(fs::exists(fs::path(sim::FpgaFolder(dir_.string(), card_)) / "running-version"));
    EXPECT_EQ(sim::FpgaFolder(dir_.string(), card_), (dir_ / "cards" / "03-00.0").string());
}

TEST_F(SimFpgaTest, DescriptionKeysSetTheStartingVersionAndTheInstructionLength) {
    Set("FPGA-Version", "1.6.13");
    Set("fpga-ir", "8");
    EXPECT_EQ(Version(), "1.6.13");
    sim::UpdateStreamOptions options;
    options.irLength = 8;
    EXPECT_EQ(Play(Stream(firmware_, options), true), kXsvfSuccess);
    EXPECT_EQ(Version(), "1.7.2");

    card_.extra.back().second = "x";
    std::string error;
    EXPECT_FALSE(sim::CheckFpgaSettings(card_, error));
    EXPECT_EQ(error, "[pci] 03:00.0: bad value of fpga-ir");
    EXPECT_EQ(Version(), "unreadable");
}

// Failures: the result of the stream, whether the store was touched, and what the card runs after a pulse.
struct FailureCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> keys;
    int stream; // 0 generated, 1 generated for IR length 8, 2 cut inside programming, 3 erase alone, 4 no
                // marker
    int32_t result;
    bool storeWritten;
    const char* versionAfterPulse;
};

TEST_F(SimFpgaTest, FailuresEndTheStreamOrLeaveTheFpgaUnconfigured) {
    const FailureCase cases[] = {
        {"verify fails", {{"fpga-verify-fails", "1"}}, 0, kXsvfTdoMismatch, true, "1.7.2"},
        {"stays busy", {{"fpga-busy", "yes"}}, 0, kXsvfMaxRetries, false, "1.6.10"},
        {"another part", {{"fpga-idcode", "0x03631093"}}, 0, kXsvfTdoMismatch, false, "1.6.10"},
        {"silicon version differs", {{"fpga-idcode", "0x274000B5"}}, 0, kXsvfSuccess, true, "1.7.2"},
        {"other instruction length", {}, 1, kXsvfTdoMismatch, false, "1.6.10"},
        {"truncated", {}, 2, kXsvfStreamEnded, true, "0.0.0"},
        {"erase alone", {}, 3, kXsvfSuccess, true, "0.0.0"},
        {"no marker", {}, 4, kXsvfSuccess, true, "0.0.0"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        card_.extra.assign(c.keys.begin(), c.keys.end());
        Bytes stream;
        sim::UpdateStreamOptions ir8;
        ir8.irLength = 8;
        switch (c.stream) {
        case 0:
            stream = Stream(firmware_);
            break;
        case 1:
            stream = Stream(firmware_, ir8);
            break;
        case 2:
            stream = CutAt(Stream(firmware_), "burst words");
            break;
        case 3:
            stream = FramedStream({});
            break;
        default:
            stream = FramedStream({0xFFFFFFFF, 0x00000000, 0xAA995566, 0x12345678});
            break;
        }
        EXPECT_EQ(Play(stream, false), c.result);
        EXPECT_EQ(fs::exists(Store()), c.storeWritten);
        EXPECT_EQ(Version(), "1.6.10"); // nothing changes before the pulse
        Play({0x00}, true);
        EXPECT_EQ(Version(), c.versionAfterPulse);
    }
}

TEST_F(SimFpgaTest, AGoodUpdateAfterAFailedOneConfiguresAgainAndReloadsReadTheStoreOrOtherData) {
    EXPECT_EQ(Play(CutAt(Stream(firmware_), "verify"), false), kXsvfStreamEnded);
    EXPECT_TRUE(sim::ReloadFpga(dir_.string(), card_, 0)); // complete but not verified: it runs
    EXPECT_EQ(Version(), "1.7.2");
    EXPECT_EQ(Play(CutAt(Stream(firmware_), "burst words"), false), kXsvfStreamEnded);
    EXPECT_TRUE(sim::ReloadFpga(dir_.string(), card_, 0)); // a power-on loads the partial store
    EXPECT_EQ(Version(), "0.0.0");
    EXPECT_EQ(Play(Stream(firmware_), true), kXsvfSuccess);
    EXPECT_EQ(Version(), "1.7.2");
    EXPECT_TRUE(sim::ReloadFpga(dir_.string(), card_, 0));
    EXPECT_EQ(Version(), "1.7.2");

    // Configuration data from elsewhere (the SPI flash after a flash-image update).
    const Bytes other = ConfigData(sim::MakeFirmwareFile({1, 8, 0}, 1024));
    EXPECT_TRUE(sim::ConfigureFpgaFrom(dir_.string(), card_, 0, other.data(), other.size()));
    EXPECT_EQ(Version(), "1.8.0");
    EXPECT_TRUE(sim::ConfigureFpgaFrom(dir_.string(), card_, 0, other.data(), other.size() - 4));
    EXPECT_EQ(Version(), "0.0.0");
}

TEST_F(SimFpgaTest, WritesOutsideConfigurationModeAreRefusedAndShowInTheStatus) {
    using namespace sim::fpga;
    const std::unique_ptr<sim::JtagDevice> fpga = sim::MakeFpga(card_, dir_.string(), 0);
    EXPECT_EQ(fpga->IrLength(), 6u);
    auto ir = [&](uint32_t code) {
        fpga->CaptureIr();
        for (int i = 0; i < 6; ++i)
            fpga->ShiftIr((code >> i) & 1);
        fpga->UpdateIr();
    };
    auto dr = [&](uint64_t value, int bits) {
        fpga->CaptureDr();
        uint64_t out = 0;
        for (int i = 0; i < bits; ++i) {
            out |= uint64_t(fpga->Tdo()) << i;
            fpga->ShiftDr((value >> i) & 1);
        }
        fpga->UpdateDr();
        return out;
    };
    fpga->Reset();
    EXPECT_EQ(dr(0, 32), kDefaultIdcode);
    ir(kIrProgram);
    EXPECT_EQ(dr(uint64_t(5) << 32 | 0x1234, 64), 0xA0u); // not enabled: refused
    ir(kIrStatus);
    EXPECT_EQ(dr(0, 8), 0xA8u);
    ir(kIrEnable);
    dr(kEnableKey, 32);
    ir(kIrErase);
    dr(kEraseKey, 32);
    ir(kIrStatus);
    EXPECT_EQ(dr(0, 8), 0xA3u); // enabled, busy, error cleared
    for (uint32_t i = 0; i < kDefaultEraseClocks; ++i)
        fpga->RunTestClock();
    EXPECT_EQ(dr(0, 8), 0xA6u);
    ir(0x3F);
    EXPECT_EQ(dr(1, 2), 0x2u); // BYPASS: one bit of delay
}

// The committed example stream through the simulator's own card model: its GPIO group and TAP drive the
// FPGA, and the port's close gives the pulse.
class CardBus : public RegisterBus {
public:
    explicit CardBus(sim::Card& card) : card_(card) {}
    uint32_t ReadMem(uintptr_t, uint32_t offset) override { return card_.Read(offset, true); }
    void WriteMem(uintptr_t, uint32_t offset, uint32_t value) override { card_.Write(offset, value, true); }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

private:
    sim::Card& card_;
};

TEST_F(SimFpgaTest, ExampleStreamUpdatesACardOfTheSimulator) {
    const Bytes stream = ReadFile(std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf");
    ASSERT_FALSE(stream.empty());
    sim::Card card(sim::MakeFpga(card_, dir_.string(), 0), card_.Location());
    CardBus bus(card);
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.stream = stream.data();
    job.streamSize = uint32_t(stream.size());
    FakeClock clock;
    InitJtagPort(job, bus, clock, {});
    EXPECT_EQ(PlayXsvf(job, bus), kXsvfSuccess);
    CloseJtagPort(job, bus, clock, true);
    EXPECT_EQ(card.Record().donePulses, 1u);
    for (uint64_t count : card.Record().misuse)
        EXPECT_EQ(count, 0u);
    EXPECT_EQ(Version(), "1.7.2");
}

} // namespace
