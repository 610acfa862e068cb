// Cost of one shifted bit through the XSVF interpreter against the port layer's bare ShiftBits of the same
// vectors, both into a register sink that does nothing, with settle count 0. The interpreter plays a
// stream of sixteen 32768-bit XSDR commands (TDO captured and compared, as XSDR does) and allocates its
// vector blocks per play, as a card's update does; the reference shifts and captures the same vectors. The
// ratio is what decoding, progress and TAP navigation add per bit.
#include "update/JtagPort.h"
#include "update/XsvfPlayer.h"

#include <benchmark/benchmark.h>

#include "perf/BenchSupport.h"

#include <cstdint>
#include <vector>

namespace {

using benchsupport::NullRegisterBus;

constexpr uint32_t kVectorBytes = 4096;
constexpr uint32_t kVectorBits = kVectorBytes * 8;
constexpr uint32_t kVectors = 16;
constexpr int64_t kBitsPerIteration = int64_t(kVectorBits) * kVectors;

std::vector<uint8_t> Vectors() {
    std::vector<uint8_t> bytes(size_t(kVectorBytes) * kVectors);
    uint32_t x = 0x12345678;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

std::vector<uint8_t> Stream(const std::vector<uint8_t>& vectors) {
    std::vector<uint8_t> stream = {uint8_t(XsvfCommand::XSDRSIZE), uint8_t(kVectorBits >> 24),
                                   uint8_t(kVectorBits >> 16), uint8_t(kVectorBits >> 8),
                                   uint8_t(kVectorBits)};
    for (uint32_t v = 0; v < kVectors; ++v) {
        stream.push_back(uint8_t(XsvfCommand::XSDR));
        stream.insert(stream.end(), vectors.begin() + v * kVectorBytes,
                      vectors.begin() + (v + 1) * kVectorBytes);
    }
    stream.push_back(uint8_t(XsvfCommand::XCOMPLETE));
    return stream;
}

void PrepareJob(tagDeviceUpdate& job) {
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.gpioImage = kLineClaim | kLineTms;
}

void XsvfShiftBit_ShiftBits(benchmark::State& state) {
    benchsupport::MarkReference(state);
    NullRegisterBus sink;
    tagDeviceUpdate job;
    PrepareJob(job);
    const std::vector<uint8_t> vectors = Vectors();
    std::vector<uint8_t> captured(kVectorBytes);
    for (auto _ : state) {
        for (uint32_t v = 0; v < kVectors; ++v)
            ShiftBits(job, sink, kVectorBits, vectors.data() + v * kVectorBytes, kVectorBytes,
                      captured.data(), true);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBitsPerIteration);
}

void XsvfShiftBit_Ours(benchmark::State& state) {
    NullRegisterBus sink;
    const std::vector<uint8_t> stream = Stream(Vectors());
    for (auto _ : state) {
        tagDeviceUpdate job;
        PrepareJob(job);
        job.stream = stream.data();
        job.streamSize = uint32_t(stream.size());
        if (PlayXsvf(job, sink) != kXsvfSuccess)
            state.SkipWithError("the stream did not complete");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBitsPerIteration);
}

// The same with one set of vector blocks for all plays: the interpreter's per-bit cost without the
// once-per-stream allocation of its 14 MB.
void XsvfShiftBit_ReusedBlocks(benchmark::State& state) {
    NullRegisterBus sink;
    const std::vector<uint8_t> stream = Stream(Vectors());
    XsvfBlocks blocks;
    if (!blocks.Allocate())
        state.SkipWithError("no memory for the vector blocks");
    for (auto _ : state) {
        tagDeviceUpdate job;
        PrepareJob(job);
        job.stream = stream.data();
        job.streamSize = uint32_t(stream.size());
        if (PlayXsvf(job, sink, blocks) != kXsvfSuccess)
            state.SkipWithError("the stream did not complete");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBitsPerIteration);
}

} // namespace

BENCHMARK(XsvfShiftBit_ShiftBits)->Unit(benchmark::kMicrosecond);
BENCHMARK(XsvfShiftBit_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(XsvfShiftBit_ReusedBlocks)->Unit(benchmark::kMicrosecond);
