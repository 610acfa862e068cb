// The one seam through which the program touches card hardware: 32-bit reads and writes in a card's mapped
// register window and in its PCI configuration space. The hardware-access client implements it over the
// service's exports, the simulated card over its register model, and tests with recording fakes.
//
// Accesses report no failure: the service's results are not looked at by any caller. A read that cannot be
// carried out returns 0.
#pragma once

#include <cstddef>
#include <cstdint>

class RegisterBus {
public:
    virtual ~RegisterBus() = default;
    // A register at a byte offset in the window mapped at base.
    virtual uint32_t ReadMem(uintptr_t base, uint32_t offset) = 0;
    virtual void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) = 0;
    // `count` writes of the same register, in order, exactly as that many WriteMem calls would make them.
    // A bus that can take a run of writes at once overrides it; every access still happens, in order.
    virtual void WriteMemSeries(uintptr_t base, uint32_t offset, const uint32_t* values, size_t count) {
        for (size_t i = 0; i < count; ++i)
            WriteMem(base, offset, values[i]);
    }
    // A dword at a byte offset in the configuration space of the PCI function named by the handle.
    virtual uint32_t ReadConfig(uint32_t hPci, uint32_t offset) = 0;
    virtual void WriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) = 0;
};
