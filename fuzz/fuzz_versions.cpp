// The FPGA versions: the card's own version read (GetFpgaVersion) over an engine whose transactions finish
// late or never and whose read bytes come from the input, and the simulator's reading of a version text.
// A version is only ever built from the four bytes the 0xD0 read took (bytes 3, 2, 1); a read that lost
// any of its transactions shows "0.0.000" and never allows the flash image. A text the simulator accepts
// reads back the same after it is written out again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "sim/FpgaImage.h"
#include "sim/I2cEngine.h"
#include "update/QSeries.h"

namespace {

namespace i2c = sim::i2c;

// An engine whose n-th transaction reports done after the number of status reads the input gives (or
// never), and whose read bytes are the input's. It notes whether a transaction of the 0xD0 read was lost:
// that read starts with the second header (a transaction with start that writes), and its four data
// bytes are the first four the engine hands out.
class FuzzedEngine : public RegisterBus {
public:
    FuzzedEngine(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint32_t ReadMem(uintptr_t, uint32_t offset) override {
        if (offset == i2c::kStatus) {
            if (statusReadsLeft_ == 0)
                return i2c::kStatusDone;
            if (statusReadsLeft_ != kNever)
                --statusReadsLeft_;
            return i2c::kStatusBusy;
        }
        if (offset == i2c::kData && (registers_[i2c::kData] & i2c::kDataRead) != 0) {
            const uint8_t byte = Next();
            bytesRead.push_back(byte);
            return registers_[i2c::kData] | static_cast<uint32_t>(byte) << i2c::kDataByteShift;
        }
        return registers_[offset] & ~i2c::kControlGo;
    }
    void WriteMem(uintptr_t, uint32_t offset, uint32_t value) override {
        registers_[offset] = value;
        if (offset == i2c::kTransaction && (value & i2c::kTransactionStart) != 0 &&
            (value & i2c::kTransactionRead) == 0)
            ++headers_;
        if (offset != i2c::kControl || (value & i2c::kControlGo) == 0)
            return;
        // One in eight never finishes (each such costs the program its 10000 status reads).
        const uint32_t wait = Next() % 8;
        statusReadsLeft_ = wait == 7 ? kNever : wait;
        if (wait == 7 && headers_ >= 2 && bytesRead.size() < 4)
            versionReadLost = true;
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

    std::vector<uint8_t> bytesRead;
    bool versionReadLost = false;

private:
    static constexpr uint32_t kNever = ~0u;
    uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    std::map<uint32_t, uint32_t> registers_;
    uint32_t statusReadsLeft_ = 0;
    int headers_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedEngine engine(data, size);
    tagDeviceUpdate job;
    job.regBase = 0x10000;
    job.settleCount = 0;
    CQSeries card(engine);
    card.job = &job;
    const FpgaVersion version = card.GetFpgaVersion();
    if (engine.versionReadLost) {
        if (version.text != kUnreadFpgaVersion || version.allowsFlashImage)
            std::abort();
    } else {
        const std::vector<uint8_t>& b = engine.bytesRead;
        if (b.size() < 4)
            std::abort();
        const FpgaVersion expected = MakeFpgaVersion(b[3], b[2], b[1]);
        if (version.text != expected.text || version.allowsFlashImage != expected.allowsFlashImage)
            std::abort();
    }

    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::FirmwareVersion parsed{};
    if (sim::ParseVersion(text, parsed)) {
        sim::FirmwareVersion again{};
        if (!sim::ParseVersion(sim::FormatVersion(parsed), again) || again.major != parsed.major ||
            again.minor != parsed.minor || again.build != parsed.build)
            std::abort();
    }
    return 0;
}
