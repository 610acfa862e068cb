// Pieces the benchmarks share: a register bus that does nothing, and a fixed pseudo-random vector.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "update/JtagPort.h"

namespace benchsupport {

// Marks the running benchmark as its group's reference, the one perf/run.sh compares the group's others
// with. A reference's name says what it is ("PlainStores", "NullBus"), not that it is one.
inline void MarkReference(benchmark::State& state) {
    state.SetLabel("reference");
}

// Accepts every access and does nothing with it. Reads and writes stay out of line, so a reference loop
// cannot inline it away where the code under test, compiled apart, could not.
class NullRegisterBus : public RegisterBus {
public:
    __attribute__((noinline)) uint32_t ReadMem(uintptr_t, uint32_t) override { return 0; }
    __attribute__((noinline)) void WriteMem(uintptr_t, uint32_t, uint32_t value) override { last = value; }
    // A run of writes: like that many WriteMem calls, keeps only the last value.
    __attribute__((noinline)) void WriteMemSeries(uintptr_t, uint32_t, const uint32_t* values,
                                                  size_t count) override {
        if (count != 0)
            last = values[count - 1];
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t value) override { last = value; }
    uint32_t last = 0;
};

constexpr uint32_t kVectorBytes = 4096;
constexpr int64_t kVectorBits = int64_t(kVectorBytes) * 8;

// kVectorBytes of the same pseudo-random data on every call.
inline std::vector<uint8_t> RandomVector() {
    std::vector<uint8_t> bytes(kVectorBytes);
    uint32_t x = 0x12345678;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

// Shifts the random vector through the port layer into a null bus, settle count 0: the port layer's own cost
// per bit.
inline void ShiftBitsIntoNullBus(benchmark::State& state) {
    NullRegisterBus sink;
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.gpioImage = kLineClaim | kLineTck;
    const std::vector<uint8_t> tdi = RandomVector();
    for (auto _ : state) {
        ShiftBits(job, sink, uint32_t(kVectorBits), tdi.data(), kVectorBytes, nullptr, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVectorBits);
}

} // namespace benchsupport
