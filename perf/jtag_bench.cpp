// Cost of one shifted bit through the JTAG port layer against the bare register writes it makes (four per
// bit), both into the same register sink that does nothing, with settle count 0. The ratio is the layer's
// own overhead: what it adds to the register bus, which is the real bottleneck of an update.
#include "update/JtagPort.h"

#include <benchmark/benchmark.h>

#include "perf/BenchSupport.h"

#include <cstdint>
#include <vector>

namespace {

// Kept out of line: the compiler would otherwise guess the sink's type in the reference loop and inline its
// writes away, which the port layer, compiled apart, cannot do.
using benchsupport::kVectorBits;
using benchsupport::kVectorBytes;
using benchsupport::NullRegisterBus;
const auto Vector = benchsupport::RandomVector;

// Four output-register writes per bit, with the values a shift makes, straight into the bus.
void JtagShiftBit_Reference(benchmark::State& state) {
    NullRegisterBus sink;
    RegisterBus* bus = &sink;
    benchmark::DoNotOptimize(bus); // a real virtual call, as the port layer makes
    const std::vector<uint8_t> tdi = Vector();
    const uintptr_t base = 0xF0000000u;
    for (auto _ : state) {
        for (uint32_t index = kVectorBytes; index-- > 0;) {
            const uint32_t byte = tdi[index];
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const uint32_t data = (0u - ((byte >> bit) & 1)) & kLinesTdi; // no branch on random data
                bus->WriteMem(base, kGpioOutput, data | kLineTck);
                bus->WriteMem(base, kGpioOutput, data);
                bus->WriteMem(base, kGpioOutput, data);
                bus->WriteMem(base, kGpioOutput, data | kLineTck);
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVectorBits);
}

void JtagShiftBit_Ours(benchmark::State& state) {
    benchsupport::ShiftBitsIntoNullBus(state);
}

} // namespace

BENCHMARK(JtagShiftBit_Reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(JtagShiftBit_Ours)->Unit(benchmark::kMicrosecond);
