// The stand-in hardware-access service: the six exports of "VskVxdSC.dll" (see
// abi/VskVxdScAbi.h) over the simulated machine's PCI bus and cards. The simulated
// platform's library loader hands these out once the library is installed in the machine; sim/win wraps the
// same functions into a real Windows DLL. Safe to call from several threads (one worker per card).
#pragma once

#include <cstdint>
#include <string>

#include "abi/VskVxdScAbi.h"

namespace sim {

// Opens the machine in `machineDir` for the service (once per process; later calls with the same folder do
// nothing). Without it every export fails (returns 0).
void AttachService(const std::string& machineDir);

class PciBus;
// The bus of the attached machine; null before AttachService succeeded. The display library's model
// reaches the cards through it, so both paths see one card state in a process.
PciBus* AttachedBus();

} // namespace sim

extern "C" {
uint32_t SimCsReadWrite(uint32_t hPci, uint32_t offset, void* buffer, uint32_t count, uint32_t direction);
uint32_t SimMemRead(uintptr_t base, uint32_t offset, void* buffer, uint32_t count);
uint32_t SimMemWrite(uintptr_t base, uint32_t offset, const void* value, uint32_t count);
uintptr_t SimMemMap64(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length, uint32_t flags);
uint32_t SimMemUnmap(uintptr_t base);
uint32_t SimPciScanBus(VskPciScanCallback callback, void* context);
}
