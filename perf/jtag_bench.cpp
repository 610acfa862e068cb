// Cost of the JTAG port layer's two loops, settle count 0, against the plain stores of the register values
// they make. The port layer writes into a register sink that does nothing with them; each reference
// computes the same output-register values and stores them, one 32-bit store each, into one register-sized
// memory location, as a mapped register window would take them. The ratio is what the layer costs on top
// of the writes themselves.
#include "update/JtagPort.h"

#include <benchmark/benchmark.h>

#include "perf/BenchSupport.h"

#include <cstdint>
#include <vector>

namespace {

using benchsupport::kVectorBits;
using benchsupport::kVectorBytes;
using benchsupport::NullRegisterBus;
const auto Vector = benchsupport::RandomVector;

constexpr int32_t kPulses = 1 << 16;

// The register the references store into; volatile, so that every store is made.
volatile uint32_t g_register = 0;

// The four output-register values of each shifted bit (clock high, low, low, high, with the bit on TDI),
// stored plainly.
void JtagShiftBit_PlainStores(benchmark::State& state) {
    benchsupport::MarkReference(state);
    const std::vector<uint8_t> tdi = Vector();
    const uint32_t image = kLineClaim;
    for (auto _ : state) {
        for (uint32_t index = kVectorBytes; index-- > 0;) {
            const uint32_t byte = tdi[index];
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const uint32_t data = image | ((0u - ((byte >> bit) & 1)) & kLinesTdi);
                g_register = data | kLineTck;
                g_register = data;
                g_register = data;
                g_register = data | kLineTck;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVectorBits);
}

// ShiftBits of the same vector (no capture, no exit) into a sink that does nothing.
void JtagShiftBit_Ours(benchmark::State& state) {
    benchsupport::ShiftBitsIntoNullBus(state);
}

// The four output-register values of each run-test pulse (clock low, high, high, low), stored plainly.
void JtagWaitPulse_PlainStores(benchmark::State& state) {
    benchsupport::MarkReference(state);
    const uint32_t low = kLineClaim | kLineTms;
    for (auto _ : state) {
        for (int32_t i = 0; i < kPulses; ++i) {
            g_register = low;
            g_register = low | kLineTck;
            g_register = low | kLineTck;
            g_register = low;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPulses);
}

// WaitTck of the same number of pulses into a sink that does nothing.
void JtagWaitPulse_Ours(benchmark::State& state) {
    NullRegisterBus sink;
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.gpioImage = kLineClaim | kLineTms;
    for (auto _ : state) {
        WaitTck(job, sink, kPulses);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPulses);
}

} // namespace

BENCHMARK(JtagShiftBit_PlainStores)->Unit(benchmark::kMicrosecond);
BENCHMARK(JtagShiftBit_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(JtagWaitPulse_PlainStores)->Unit(benchmark::kMicrosecond);
BENCHMARK(JtagWaitPulse_Ours)->Unit(benchmark::kMicrosecond);
