// The hardware-access operations the program uses on cards: PCI configuration space, register windows,
// the bus scan. CVskLibrary provides them over the service library's exports; tests provide fakes.
#pragma once

#include <cstdint>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "abi/VskVxdScAbi.h"

class CHwAccess : public RegisterBus {
public:
    // Each returns the service's result, or 0 without doing anything when the service is not there; a
    // failed read leaves the caller's buffer as it was.
    virtual uint32_t HwReadConfig(uint32_t hPci, uint32_t offset, uint32_t* value) = 0;
    virtual uint32_t HwWriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) = 0;
    virtual uint32_t HwReadMem(uintptr_t base, uint32_t offset, uint32_t* value) = 0;
    virtual uint32_t HwWriteMem(uintptr_t base, uint32_t offset, uint32_t value) = 0;
    virtual uintptr_t HwMapMem(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length,
                               uint32_t flags) = 0;
    virtual uint32_t HwUnmapMem(uintptr_t base) = 0;
    virtual uint32_t HwScanBus(VskPciScanCallback callback, void* context) = 0;

    // The location part of a PCI handle: bus in bits 15..8, device and function in bits 7..0.
    static uint32_t HwSplitPciHandle(uint32_t hPci, uint32_t* location) {
        *location = hPci & 0xFFFF;
        return 1;
    }

    // RegisterBus over the operations above. A window that was never mapped (base 0) is never touched:
    // reads give 0 and writes are dropped.
    uint32_t ReadMem(uintptr_t base, uint32_t offset) final {
        uint32_t value = 0;
        if (base != 0)
            HwReadMem(base, offset, &value);
        return value;
    }
    void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) final {
        if (base != 0)
            HwWriteMem(base, offset, value);
    }
    void WriteMemSeries(uintptr_t base, uint32_t offset, const uint32_t* values, size_t count) final {
        if (base == 0)
            return;
        for (size_t i = 0; i < count; ++i)
            HwWriteMem(base, offset, values[i]);
    }
    uint32_t ReadConfig(uint32_t hPci, uint32_t offset) final {
        uint32_t value = 0;
        HwReadConfig(hPci, offset, &value);
        return value;
    }
    void WriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) final {
        HwWriteConfig(hPci, offset, value);
    }
};
