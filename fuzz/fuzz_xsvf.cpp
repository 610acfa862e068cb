// Feeds arbitrary bytes to the XSVF interpreter as an update stream. The sanitizers catch any read outside
// the stream or a vector block; the checks below catch a result or progress the interpreter must not give.
//
// A stream may legally ask for billions of TCK pulses (a huge run-test time or wait, or retries that raise
// it). The register bus here does nothing but count its writes, and once an input has used its budget it
// stops that input by throwing an exception private to this file; the interpreter holds its blocks in
// owning pointers, so the unwinding frees them. The product itself has no such limit and never throws.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "update/JtagPort.h"
#include "update/XsvfPlayer.h"

namespace {

// About 25,000 TCK pulses: a few milliseconds under the sanitizers.
constexpr uint64_t kWriteBudget = 100000;

struct BudgetUsed {};

class CountingBus : public RegisterBus {
public:
    uint32_t ReadMem(uintptr_t, uint32_t offset) override {
        // TDO that changes with the writes, so compares go both ways.
        return offset == kGpioInput ? uint32_t(writes_ >> 3) & 1 : 0;
    }
    void WriteMem(uintptr_t, uint32_t, uint32_t) override {
        if (++writes_ > kWriteBudget)
            throw BudgetUsed{};
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

private:
    uint64_t writes_ = 0;
};

bool KnownResult(int32_t result) {
    return result == kXsvfSuccess || (result >= kXsvfTdoMismatch && result <= kXsvfOutOfMemory);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1u << 20)
        return 0;
    // An exact-size copy, so that a read past the end is caught even when the fuzzer's buffer is larger.
    const std::vector<uint8_t> bytes(data, data + size);
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.gpioImage = kLineTms;
    job.stream = bytes.data();
    job.streamSize = uint32_t(bytes.size());
    // One set of vector blocks for the whole run: a fresh 14 MB per input would cost more than the input.
    static XsvfBlocks blocks;
    if (!blocks.Allocate())
        std::abort();
    CountingBus bus;
    int32_t result = 0;
    try {
        result = PlayXsvf(job, bus, blocks);
    } catch (const BudgetUsed&) {
        return 0;
    }
    const uint32_t consumed = job.consumed.load();
    if (!KnownResult(result) || consumed > size || job.stream != bytes.data() + consumed)
        std::abort();
    // Progress is the share of bytes read, and never 100: that is left to the worker's finish, so that the
    // run cannot take a job for finished while its last command still clocks the chain.
    const uint32_t percent = std::min(uint32_t(uint64_t(consumed) * 100 / size), kRunningPercentLimit);
    if (job.Percent() != percent)
        std::abort();
    return 0;
}
