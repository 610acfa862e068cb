// The stand-in "VskVxdSC.dll": the six exports (named in VskVxdSC.def) of the hardware-access library over
// the simulated machine named by the environment variable VSK_SIM_MACHINE (a Windows path to the machine
// folder; under Wine, "Z:\tmp\..." reaches the host's /tmp). The machine is attached on the first call of any
// export. Without the variable every export returns 0 and the scan reports nothing, as a service without
// cards would.
#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "abi/VskVxdScAbi.h"
#include "sim/HwService.h"
#include "sim/win/StandIn.h"

namespace {

bool AttachFromEnvironment() {
    const std::string folder = simwin::MachineFolderFromEnvironment();
    if (folder.empty()) {
        return false;
    }
    sim::AttachService(folder);
    return true;
}

// Attaches once per process; concurrent first calls wait for the one that attaches.
bool Attached() {
    static const bool attached = AttachFromEnvironment();
    return attached;
}

} // namespace

extern "C" {

uint32_t csReadWrite(uint32_t hPci, uint32_t offset, void* buffer, uint32_t count, uint32_t direction) {
    return Attached() ? SimCsReadWrite(hPci, offset, buffer, count, direction) : 0;
}

uint32_t memRead(uintptr_t base, uint32_t offset, void* buffer, uint32_t count) {
    return Attached() ? SimMemRead(base, offset, buffer, count) : 0;
}

uint32_t memWrite(uintptr_t base, uint32_t offset, const void* value, uint32_t count) {
    return Attached() ? SimMemWrite(base, offset, value, count) : 0;
}

uintptr_t memMap64(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length, uint32_t flags) {
    return Attached() ? SimMemMap64(physicalLow, physicalHigh, length, flags) : 0;
}

uint32_t memUnmap(uintptr_t base) {
    return Attached() ? SimMemUnmap(base) : 0;
}

uint32_t pciScanBus(VskPciScanCallback callback, void* context) {
    return Attached() ? SimPciScanBus(callback, context) : 0;
}
}

// The exports keep the types the program calls them through.
static_assert(std::is_same_v<decltype(&csReadWrite), VskCsReadWriteFn>);
static_assert(std::is_same_v<decltype(&memRead), VskMemReadFn>);
static_assert(std::is_same_v<decltype(&memWrite), VskMemWriteFn>);
static_assert(std::is_same_v<decltype(&memMap64), VskMemMap64Fn>);
static_assert(std::is_same_v<decltype(&memUnmap), VskMemUnmapFn>);
static_assert(std::is_same_v<decltype(&pciScanBus), VskPciScanBusFn>);
