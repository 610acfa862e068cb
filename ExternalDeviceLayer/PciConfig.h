// The PCI configuration space of a card as the program uses it: dword offsets, the bits it sets or reads,
// and the one sequence that prepares a card for register access. The PCI scan and the JTAG port both use
// it. The simulator keeps its own copy of these numbers on purpose (sim/Machine.cpp, sim/PciBus.cpp), as
// an independent model of the card.
#pragma once

#include <cstdint>

#include "ExternalDeviceLayer/RegisterBus.h"

namespace pcicfg {

// Dword offsets.
constexpr uint32_t kVendorDevice = 0x00; // vendor ID in bits 15..0, device ID in bits 31..16
constexpr uint32_t kWord2 = 0x02;        // the dword read at offset 2, kept in the card's record
constexpr uint32_t kCommand = 0x04;
constexpr uint32_t kRevision = 0x08; // revision ID in bits 7..0
constexpr uint32_t kBar0 = 0x10;
constexpr uint32_t kBar1 = 0x14;
constexpr uint32_t kBar2 = 0x18;
constexpr uint32_t kBar3 = 0x1C;
constexpr uint32_t kSubsystem = 0x2C; // subsystem ID << 16 | subsystem vendor ID
constexpr uint32_t kCardControl = 0xE0;

// Command register: memory space decoding.
constexpr uint32_t kCommandMemorySpace = 0x2;
// Card control: the bits that are cleared before the card's registers are used.
constexpr uint32_t kCardControlClear = 0x3;

// BAR: bits 2..1 are the memory type, 2 meaning a 64-bit BAR; the address lies above bit 8 here.
constexpr uint32_t BarType(uint32_t bar) {
    return (bar >> 1) & 3;
}
constexpr uint32_t kBarType64 = 2;
constexpr uint32_t kBarAddressMask = 0xFFFFFF00;

// Memory space decoding on, the card control bits cleared: each a read, then a write of the changed
// value.
inline void EnableRegisterAccess(RegisterBus& bus, uint32_t hPci) {
    bus.WriteConfig(hPci, kCommand, bus.ReadConfig(hPci, kCommand) | kCommandMemorySpace);
    bus.WriteConfig(hPci, kCardControl, bus.ReadConfig(hPci, kCardControl) & ~kCardControlClear);
}

} // namespace pcicfg
