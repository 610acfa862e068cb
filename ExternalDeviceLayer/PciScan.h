// CPciScan finds every Veskora Q740 on the PCI bus, prepares it for register access, maps its 64 KB register
// window and keeps one tagPciInfo per card, in the order the service reported them.
#pragma once

#include <cstdint>

#include "ExternalDeviceLayer/HwAccess.h"
#include "ExternalDeviceLayer/MArray.h"
#include "ExternalDeviceLayer/RegisterLayout.h"

struct tagPciInfo {
    uint32_t hPci;      // PCI handle as the service reported it
    uintptr_t regBase;  // base of the mapped register window; 0 when mapping failed
    uint8_t revision;   // low byte of configuration dword 0x08
    uint16_t deviceId;  // bits 31..16 of configuration dword 0x00
    uint16_t word2;     // bits 31..16 of the value read at configuration offset 2
    uint16_t vendorId;  // bits 15..0 of configuration dword 0x00
    uint32_t bus;       // bits 15..8 of the handle
    uint32_t device;    // bits 7..3 of the handle
    uint32_t function;  // bits 2..0 of the handle
    uint32_t index;     // position in the array
    uint32_t subsystem; // configuration dword 0x2C
};

class CPciScan {
public:
    static constexpr uint32_t kCardId = 0x68281002;        // vendor 0x1002, device 0x6828
    static constexpr uint32_t kCardSubsystem = 0x4D17E6A2; // subsystem and subsystem vendor
    static constexpr uint32_t kWindowSize = regs::kWindowSize;

    explicit CPciScan(CHwAccess& hw);
    virtual ~CPciScan();
    CPciScan(const CPciScan&) = delete;
    CPciScan& operator=(const CPciScan&) = delete;

    // Enumerates the bus once; true when at least one card was found.
    bool Scan();

    CMArray<tagPciInfo>* records = nullptr;
    int32_t count = 0;

    // Called by the service once per PCI function; context is the scan. Always returns 0 so the
    // enumeration goes on.
    static uint32_t Probe(uint32_t hPci, void* context);
    // Maps the card's register window from its BARs; 0 when that failed.
    static uintptr_t MapRegisterWindow(CHwAccess& hw, uint32_t hPci);

private:
    CHwAccess& hw_;
};
