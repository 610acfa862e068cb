// The stand-in hardware-access service over the PCI bus of the attached machine.
#include "sim/HwService.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "sim/PciBus.h"

namespace sim {

namespace {

std::mutex g_attachMutex;
std::string g_attachedDir;
std::atomic<PciBus*> g_bus{nullptr};

PciBus* Bus() {
    return g_bus.load(std::memory_order_acquire);
}

} // namespace

void AttachService(const std::string& machineDir) {
    std::lock_guard<std::mutex> lock(g_attachMutex);
    if (Bus() && g_attachedDir == machineDir)
        return;
    MachineDescription machine;
    std::string error;
    if (!LoadMachine(machineDir, machine, error))
        return;
    const char* sharedTrace = std::getenv("VSK_SIM_TRACE");
    PciBus::DeviceFactory devices = [machineDir](const PciFunction& function, int index) {
        return MakeFpga(function, machineDir, index);
    };
    // A bus that other threads may still be using is never freed; attaching another machine is for tests
    // and tools, and happens a handful of times per process at most. The buses let go stay listed, so
    // they are kept, not lost.
    static std::vector<PciBus*>* const retired = new std::vector<PciBus*>;
    if (PciBus* previous = Bus())
        retired->push_back(previous);
    g_bus.store(new PciBus(machine, machineDir, devices, sharedTrace ? sharedTrace : ""),
                std::memory_order_release);
    g_attachedDir = machineDir;
}

PciBus* AttachedBus() {
    return Bus();
}

} // namespace sim

extern "C" {

uint32_t SimCsReadWrite(uint32_t hPci, uint32_t offset, void* buffer, uint32_t count, uint32_t direction) {
    sim::PciBus* bus = sim::Bus();
    if (!bus || !buffer || count != 4 || direction > 1)
        return 0;
    uint32_t value = 0;
    if (direction == 1) {
        std::memcpy(&value, buffer, 4);
        return bus->WriteConfig(hPci, offset, value) ? 1 : 0;
    }
    if (!bus->ReadConfig(hPci, offset, value))
        return 0;
    std::memcpy(buffer, &value, 4);
    return 1;
}

uint32_t SimMemRead(uintptr_t base, uint32_t offset, void* buffer, uint32_t count) {
    sim::PciBus* bus = sim::Bus();
    uint32_t value = 0;
    if (!bus || !buffer || count != 4 || !bus->ReadMem(base, offset, value))
        return 0;
    std::memcpy(buffer, &value, 4);
    return 1;
}

uint32_t SimMemWrite(uintptr_t base, uint32_t offset, const void* value, uint32_t count) {
    sim::PciBus* bus = sim::Bus();
    if (!bus || !value || count != 4)
        return 0;
    uint32_t v = 0;
    std::memcpy(&v, value, 4);
    return bus->WriteMem(base, offset, v) ? 1 : 0;
}

uintptr_t SimMemMap64(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length, uint32_t flags) {
    sim::PciBus* bus = sim::Bus();
    return bus ? bus->Map(uint64_t{physicalHigh} << 32 | physicalLow, length, flags) : 0;
}

uint32_t SimMemUnmap(uintptr_t base) {
    sim::PciBus* bus = sim::Bus();
    return bus && bus->Unmap(base) ? 1 : 0;
}

uint32_t SimPciScanBus(VskPciScanCallback callback, void* context) {
    sim::PciBus* bus = sim::Bus();
    if (!bus || !callback)
        return 0;
    for (size_t i = 0; i < bus->FunctionCount(); ++i)
        callback(bus->HandleAt(i), context);
    return static_cast<uint32_t>(bus->FunctionCount());
}
}
