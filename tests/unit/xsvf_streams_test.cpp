// Real update streams made by a vendor tool for two CPLDs, played against a model of one device on the
// chain: a TAP that follows the TCK edges, an instruction register, IDCODE behind the identification
// instruction, and behind every other one either an erased array (all ones) or a register that gives back
// what was last shifted in, with a "done" status in its low bits. All five streams play to XCOMPLETE
// against these models, the same way on every run, without reading past their end.
//
// The files come from the shared test data: $VSK_TESTDATA (the testdata folder or its xsvf folder), else
// the shared folder beside the source tree. Without them the test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "update/JtagPort.h"
#include "update/TapState.h"
#include "update/XsvfPlayer.h"

namespace {

constexpr uint32_t kTdiLine = 0x800;

class DeviceModel : public RegisterBus {
public:
    // What a data register other than IDCODE captures.
    enum class Data {
        Erased,   // all ones, as an erased array reads
        Loopback, // the value last shifted in, with status bits ...01 in its two low bits
    };

    DeviceModel(uint32_t irLength, uint32_t idcodeInstruction, uint32_t idcode, Data data)
        : irLength_(irLength), idcodeInstruction_(idcodeInstruction), idcode_(idcode), data_(data) {}

    uint32_t ReadMem(uintptr_t, uint32_t offset) override { return offset == kGpioInput ? tdo_ : 0; }
    void WriteMem(uintptr_t, uint32_t offset, uint32_t value) override {
        if (offset != kGpioOutput)
            return;
        ++writes;
        const bool tck = (value & kLineTck) != 0;
        if (tck && !tck_)
            Rise((value & kLineTms) != 0, (value & kTdiLine) != 0);
        tck_ = tck;
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

    uint64_t writes = 0;
    uint64_t edges = 0;

private:
    void Rise(bool tms, bool tdi) {
        ++edges;
        switch (state_) {
        case TapState::CaptureIr:
            ir_ = 0x1; // the standard capture pattern ...01
            break;
        case TapState::ShiftIr:
            ir_ = (ir_ >> 1) | (uint32_t(tdi) << (irLength_ - 1));
            break;
        case TapState::UpdateIr:
            instruction_ = ir_;
            break;
        case TapState::CaptureDr:
            shifted_ = 0;
            if (instruction_ == idcodeInstruction_)
                dr_ = 0xFFFFFFFF00000000ull | idcode_;
            else
                dr_ = data_ == Data::Erased ? ~0ull : ((last_ & ~3ull) | 1);
            break;
        case TapState::ShiftDr:
            dr_ = (dr_ >> 1) | (uint64_t(data_ == Data::Erased || tdi) << 63);
            ++shifted_;
            break;
        case TapState::UpdateDr:
            if (shifted_ > 0 && shifted_ < 64)
                last_ = dr_ >> (64 - shifted_);
            break;
        default:
            break;
        }
        state_ = Next(state_, tms);
        if (state_ == TapState::ShiftIr)
            tdo_ = ir_ & 1;
        else if (state_ == TapState::ShiftDr)
            tdo_ = uint32_t(dr_ & 1);
    }

    const uint32_t irLength_;
    const uint32_t idcodeInstruction_;
    const uint32_t idcode_;
    const Data data_;
    uint64_t last_ = 0;
    uint32_t shifted_ = 0;
    TapState state_ = TapState::TestLogicReset;
    bool tck_ = false;
    uint32_t ir_ = 0;
    uint32_t instruction_ = 0;
    uint64_t dr_ = 0;
    uint32_t tdo_ = 0;
};

bool IsFolder(const std::string& path) {
    std::ifstream probe(path + "/README.md");
    return probe.good();
}

std::string TestDataFolder() {
    if (const char* env = std::getenv("VSK_TESTDATA")) {
        if (IsFolder(std::string(env) + "/xsvf"))
            return std::string(env) + "/xsvf";
        if (IsFolder(env))
            return env;
    }
    const std::string beside = std::string(VSK_SOURCE_DIR) + "/../shared/testdata/xsvf";
    if (IsFolder(beside))
        return beside;
    return IsFolder("/work/shared/testdata/xsvf") ? "/work/shared/testdata/xsvf" : "";
}

struct Outcome {
    int32_t result = -1;
    uint32_t consumed = 0;
    uint32_t percent = 0;
    uint64_t writes = 0;
    bool operator==(const Outcome& o) const {
        return result == o.result && consumed == o.consumed && percent == o.percent && writes == o.writes;
    }
};

Outcome PlayFile(const std::vector<uint8_t>& stream, uint32_t idInstruction, uint32_t idcode,
                 DeviceModel::Data data) {
    // An exact-size copy: a read past the end is caught by the address sanitizer.
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[stream.size()]);
    std::copy(stream.begin(), stream.end(), copy.get());
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.gpioImage = kLineTms;
    job.stream = copy.get();
    job.streamSize = uint32_t(stream.size());
    DeviceModel device(8, idInstruction, idcode, data);
    Outcome outcome;
    outcome.result = PlayXsvf(job, device);
    outcome.consumed = job.consumed.load();
    outcome.percent = job.Percent();
    outcome.writes = device.writes;
    return outcome;
}

std::vector<uint8_t> ReadStream(const std::string& name) {
    std::ifstream in(TestDataFolder() + "/" + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

constexpr uint32_t kCoolRunnerId = 0x16E5F093, kXc9500Id = 0x59604093;

TEST(PlayXsvfStreams, RealStreamsEndTheSameWayEveryTime) {
    if (TestDataFolder().empty())
        GTEST_SKIP() << "shared XSVF test data not found; set VSK_TESTDATA";
    using Data = DeviceModel::Data;
    struct Case {
        const char* file;
        uint32_t idInstruction;
        uint32_t idcode;
        Data data;
        int32_t result;
    };
    const Case cases[] = {
        {"xc2c64a_idcode.xsvf", 0x01, kCoolRunnerId, Data::Erased, 0},
        {"xc9572xl_deviceid.xsvf", 0xFE, kXc9500Id, Data::Erased, 0},
        {"xc2c64a_erase.xsvf", 0x01, kCoolRunnerId, Data::Erased, 0},
        {"xc2c64a_blank_check.xsvf", 0x01, kCoolRunnerId, Data::Erased, 0},
        {"xc9572xl_program_button_led.xsvf", 0xFE, kXc9500Id, Data::Loopback, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> stream = ReadStream(c.file);
        ASSERT_FALSE(stream.empty());
        const Outcome first = PlayFile(stream, c.idInstruction, c.idcode, c.data);
        EXPECT_EQ(first.result, c.result);
        if (c.result == 0) {
            EXPECT_EQ(first.consumed, stream.size()); // XCOMPLETE is the last byte
            EXPECT_EQ(first.percent, 100u);
        }
        EXPECT_TRUE(PlayFile(stream, c.idInstruction, c.idcode, c.data) == first);
    }
}

TEST(PlayXsvfStreams, AnotherPartsIdcodeFails) {
    if (TestDataFolder().empty())
        GTEST_SKIP() << "shared XSVF test data not found; set VSK_TESTDATA";
    // XREPEAT 0: the first mismatch ends the stream.
    EXPECT_EQ(PlayFile(ReadStream("xc2c64a_idcode.xsvf"), 0x01, kXc9500Id, DeviceModel::Data::Erased).result,
              kXsvfTdoMismatch);
    // XREPEAT 32 with run-test 0: the plain shift is repeated 32 times, then the stream gives up.
    const Outcome retried = PlayFile(ReadStream("xc9572xl_program_button_led.xsvf"), 0xFE, kCoolRunnerId,
                                     DeviceModel::Data::Loopback);
    EXPECT_EQ(retried.result, kXsvfMaxRetries);
    EXPECT_EQ(retried.consumed, 33u); // stopped at the first XSDRTDO
    EXPECT_EQ(retried.percent, 0u);
}

} // namespace
