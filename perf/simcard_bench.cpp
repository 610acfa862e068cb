// Cost of one shifted bit through the JTAG port layer into a simulated card (the service's memWrite and
// memRead exports, the card's lock, the GPIO lines and the TAP with the FPGA behind it), against the same
// shift into a register sink that does nothing. Settle count 0 in both, so the ratio is what the simulator
// costs per bit next to the port layer alone.
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

void SimCardShiftBit_Reference(benchmark::State& state) {
    benchsupport::ShiftBitsIntoNullBus(state);
}

// One card in a fresh machine, claimed and walked to Shift-DR as an update does.
void SimCardShiftBit_Card(benchmark::State& state) {
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
    for (auto _ : state) {
        ShiftBits(job, bus, uint32_t(kVectorBits), tdi.data(), kVectorBytes, nullptr, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVectorBits);
    std::filesystem::remove_all(dir);
}

} // namespace

BENCHMARK(SimCardShiftBit_Reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(SimCardShiftBit_Card)->Unit(benchmark::kMicrosecond);
