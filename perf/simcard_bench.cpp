// Cost of one register write into a simulated card (the service's memWrite export, the card's lock, the
// GPIO lines and the TAP with the FPGA in Shift-DR behind it) against the same write into a register sink
// that does nothing, both through the same virtual call per write. The writes are those of shifting a
// random vector: four output-register writes per bit.
#include <benchmark/benchmark.h>

#include "perf/BenchSupport.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/HwService.h"
#include "sim/Machine.h"
#include "update/JtagPort.h"

namespace {

using NullSink = benchsupport::NullRegisterBus;

// The register bus the program has: the service's exports.
class ServiceBus : public RegisterBus {
public:
    uint32_t ReadMem(uintptr_t base, uint32_t offset) override {
        uint32_t value = 0;
        SimMemRead(base, offset, &value, 4);
        return value;
    }
    void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) override {
        SimMemWrite(base, offset, &value, 4);
    }
    uint32_t ReadConfig(uint32_t hPci, uint32_t offset) override {
        uint32_t value = 0;
        SimCsReadWrite(hPci, offset, &value, 4, 0);
        return value;
    }
    void WriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) override {
        SimCsReadWrite(hPci, offset, &value, 4, 1);
    }
};

using benchsupport::kVectorBits;
using benchsupport::kVectorBytes;
const auto Vector = benchsupport::RandomVector;

// The four output-register writes of each bit of the vector, one virtual call each, into `bus`.
void WriteShiftPattern(RegisterBus& bus, uintptr_t base, const std::vector<uint8_t>& tdi) {
    const uint32_t image = kLineClaim;
    for (uint32_t index = kVectorBytes; index-- > 0;) {
        const uint32_t byte = tdi[index];
        for (uint32_t bit = 0; bit < 8; ++bit) {
            const uint32_t data = image | ((0u - ((byte >> bit) & 1)) & kLinesTdi);
            bus.WriteMem(base, kGpioOutput, data | kLineTck);
            bus.WriteMem(base, kGpioOutput, data);
            bus.WriteMem(base, kGpioOutput, data);
            bus.WriteMem(base, kGpioOutput, data | kLineTck);
        }
    }
}

void SimCardWrite_NullBus(benchmark::State& state) {
    benchsupport::MarkReference(state);
    NullSink sink;
    RegisterBus* bus = &sink;
    benchmark::DoNotOptimize(bus); // a real virtual call, as into the card
    const std::vector<uint8_t> tdi = Vector();
    for (auto _ : state) {
        WriteShiftPattern(*bus, 0x10000000u, tdi);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVectorBits * 4);
}

// One card in a fresh machine, claimed and walked to Shift-DR as an update does.
void SimCardWrite_Card(benchmark::State& state) {
    const std::string dir = (std::filesystem::temp_directory_path() / "vsk-simcard-bench").string();
    std::filesystem::remove_all(dir);
    std::string error;
    const sim::MachineDescription machine = sim::DefaultMachine(1);
    if (!sim::CreateMachine(dir, machine, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    sim::AttachService(dir);
    const sim::PciFunction& card = machine.pci[2];
    ServiceBus bus;
    tagDeviceUpdate job;
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.hPci = card.Handle();
    const uint64_t window = card.RegisterWindow();
    job.regBase = SimMemMap64(uint32_t(window), uint32_t(window >> 32), 0x10000, 0);
    if (!job.regBase) {
        state.SkipWithError("the card's window does not map");
        return;
    }
    bus.WriteConfig(job.hPci, 0x04, bus.ReadConfig(job.hPci, 0x04) | 2);
    WritePortRegister(job, bus, kGpioMask, 0x20003827);
    WritePortRegister(job, bus, kGpioOutputEnable, 0x20003820);
    uint8_t tap = 0;
    GotoTapState(job, bus, tap, 0);
    GotoTapState(job, bus, tap, 4);
    const std::vector<uint8_t> tdi = Vector();
    RegisterBus* through = &bus;
    benchmark::DoNotOptimize(through);
    for (auto _ : state) {
        WriteShiftPattern(*through, job.regBase, tdi);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVectorBits * 4);
    std::filesystem::remove_all(dir);
}

} // namespace

BENCHMARK(SimCardWrite_NullBus)->Unit(benchmark::kMicrosecond);
BENCHMARK(SimCardWrite_Card)->Unit(benchmark::kMicrosecond);
