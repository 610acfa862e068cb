#include "ExternalDeviceLayer/PciScan.h"

#include "ExternalDeviceLayer/PciConfig.h"

namespace {

uint32_t ReadConfig(CHwAccess& hw, uint32_t hPci, uint32_t offset) {
    uint32_t value = 0; // a failed read leaves it zero, so such a function never matches
    hw.HwReadConfig(hPci, offset, &value);
    return value;
}

} // namespace

CPciScan::CPciScan(CHwAccess& hw) : hw_(hw) {}

CPciScan::~CPciScan() {
    if (!records)
        return;
    for (int32_t i = 0; i < records->Size(); ++i) {
        if ((*records)[i].regBase != 0)
            hw_.HwUnmapMem((*records)[i].regBase);
    }
    delete records;
    records = nullptr;
}

bool CPciScan::Scan() {
    delete records;
    records = new CMArray<tagPciInfo>();
    hw_.HwScanBus(&CPciScan::Probe, this);
    count = records->Size();
    return count > 0;
}

uintptr_t CPciScan::MapRegisterWindow(CHwAccess& hw, uint32_t hPci) {
    const uint32_t bar0 = ReadConfig(hw, hPci, pcicfg::kBar0);
    uint32_t low, high = 0;
    if (pcicfg::BarType(bar0) == pcicfg::kBarType64) { // the registers sit behind the next 64-bit pair
        low = ReadConfig(hw, hPci, pcicfg::kBar2);
        high = ReadConfig(hw, hPci, pcicfg::kBar3);
    } else {
        low = ReadConfig(hw, hPci, pcicfg::kBar1);
    }
    low &= pcicfg::kBarAddressMask;
    return hw.HwMapMem(low, high, kWindowSize, 0);
}

uint32_t CPciScan::Probe(uint32_t hPci, void* context) {
    if (!context)
        return 0;
    CPciScan& scan = *static_cast<CPciScan*>(context);
    CHwAccess& hw = scan.hw_;
    const uint32_t id = ReadConfig(hw, hPci, pcicfg::kVendorDevice);
    const uint32_t word2 = ReadConfig(hw, hPci, pcicfg::kWord2);
    const uint32_t subsystem = ReadConfig(hw, hPci, pcicfg::kSubsystem);
    if (id != kCardId || subsystem != kCardSubsystem)
        return 0;
    const uint32_t revision = ReadConfig(hw, hPci, pcicfg::kRevision);
    uint32_t location = 0;
    CHwAccess::HwSplitPciHandle(hPci, &location);
    pcicfg::EnableRegisterAccess(hw, hPci);

    tagPciInfo info{};
    info.hPci = hPci;
    info.regBase = MapRegisterWindow(hw, hPci);
    info.revision = static_cast<uint8_t>(revision & 0xFF);
    info.deviceId = static_cast<uint16_t>(id >> 16);
    info.word2 = static_cast<uint16_t>(word2 >> 16);
    info.vendorId = static_cast<uint16_t>(id & 0xFFFF);
    info.bus = (location >> 8) & 0xFF;
    info.device = (location >> 3) & 0x1F;
    info.function = location & 0x7;
    info.index = static_cast<uint32_t>(scan.records->Size());
    info.subsystem = subsystem;
    // Kept even when the window could not be mapped.
    scan.records->PutAt(scan.records->Size(), info);
    return 0;
}
