#include "sim/PciBus.h"

#include <cstring>

#include "sim/WindowsPaths.h"

namespace sim {

namespace {

// An offset past the window (also one that would wrap around) stays past it, for the card to refuse.
uint32_t WindowOffset(uint32_t baseOffset, uint32_t offset) {
    const uint64_t at = uint64_t{baseOffset} + offset;
    return at > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(at);
}

} // namespace

PciBus::PciBus(const MachineDescription& machine, const std::string& machineDir, const DeviceFactory& devices,
               const std::string& sharedTracePath) {
    const std::shared_ptr<TraceFile> shared = traceFiles_.Get(sharedTracePath);
    for (const PciFunction& info : machine.pci) {
        auto function = std::make_unique<Function>();
        function->info = info;
        function->config = info.ConfigSpace();
        if (info.kind == FunctionKind::Q740) {
            function->cardIndex = static_cast<int>(cards_.size());
            CardI2cSettings i2c;
            std::string error;
            ReadCardI2cSettings(info, machineDir, function->cardIndex, i2c, error); // bad keys: defaults
            function->card = std::make_unique<Card>(devices ? devices(info, function->cardIndex) : nullptr,
                                                    info.Location(), i2c);
            Trace& trace = function->card->GetTrace();
            if (!info.tracePath.empty())
                trace.Add(traceFiles_.Get(MapPath(machineDir, info.tracePath)), "");
            trace.Add(shared, info.Location() + " ");
            cards_.push_back(function.get());
        }
        functions_.push_back(std::move(function));
    }
}

PciBus::~PciBus() = default;

PciBus::Function* PciBus::FindHandle(uint32_t handle) const {
    for (const auto& function : functions_)
        if (function->info.Handle() == handle)
            return function.get();
    return nullptr;
}

PciBus::Function* PciBus::FindBase(uintptr_t base, uint32_t& offsetBase) const {
    if (base < kMappedWindowBase)
        return nullptr;
    const uintptr_t index = (base - kMappedWindowBase) / kCardWindowSize;
    if (index >= cards_.size())
        return nullptr;
    offsetBase = static_cast<uint32_t>((base - kMappedWindowBase) % kCardWindowSize);
    return cards_[index];
}

uint32_t PciBus::Dword(const Function& f, uint32_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | f.config[offset + static_cast<uint32_t>(i)];
    return value;
}

bool PciBus::ReadConfig(uint32_t handle, uint32_t offset, uint32_t& value) {
    Function* f = FindHandle(handle);
    if (!f || offset > 0xFF)
        return false;
    value = Dword(*f, offset & ~3u) >> (8 * (offset & 3));
    if (f->card && f->card->GetTrace().On())
        f->card->GetTrace().Line("config-read 0x%02X 0x%08X", offset, value);
    return true;
}

bool PciBus::WriteConfig(uint32_t handle, uint32_t offset, uint32_t value) {
    Function* f = FindHandle(handle);
    if (!f || offset > 0xFF)
        return false;
    if (f->card && f->card->GetTrace().On())
        f->card->GetTrace().Line("config-write 0x%02X 0x%08X", offset, value);
    // The command register and the card control dword are the writable ones. The program has these offsets
    // in ExternalDeviceLayer/PciConfig.h; the model keeps its own, as an independent model of the card.
    if (offset == 0x04) {
        f->config[4] = static_cast<uint8_t>(value);
        f->config[5] = static_cast<uint8_t>(value >> 8);
    } else if (offset == 0xE0) {
        for (uint32_t i = 0; i < 4; ++i)
            f->config[0xE0 + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return true;
}

uintptr_t PciBus::Map(uint64_t address, uint32_t length, uint32_t flags) {
    lastMapRequest_.store(address);
    for (Function* f : cards_) {
        if (f->info.RegisterWindow() != address)
            continue;
        const bool ok = length == kCardWindowSize && !f->info.mapFails;
        const uintptr_t base =
            ok ? kMappedWindowBase + static_cast<uintptr_t>(f->cardIndex) * kCardWindowSize : 0;
        if (ok)
            f->mapped = true;
        if (f->card->GetTrace().On())
            f->card->GetTrace().Line("map 0x%016llX 0x%X flags 0x%X -> 0x%08llX",
                                     static_cast<unsigned long long>(address), length, flags,
                                     static_cast<unsigned long long>(base));
        return base;
    }
    return 0;
}

bool PciBus::Unmap(uintptr_t base) {
    uint32_t offset = 0;
    Function* f = FindBase(base, offset);
    if (!f || offset != 0)
        return false;
    if (f->card->GetTrace().On())
        f->card->GetTrace().Line("unmap 0x%08llX%s", static_cast<unsigned long long>(base),
                                 f->mapped ? "" : " (not mapped)");
    const bool was = f->mapped;
    f->mapped = false;
    return was;
}

bool PciBus::ReadMem(uintptr_t base, uint32_t offset, uint32_t& value) {
    uint32_t baseOffset = 0;
    Function* f = FindBase(base, baseOffset);
    if (!f)
        return false;
    if (!f->mapped)
        return false;
    value = f->card->Read(WindowOffset(baseOffset, offset), Decoding(*f));
    return true;
}

bool PciBus::WriteMem(uintptr_t base, uint32_t offset, uint32_t value) {
    uint32_t baseOffset = 0;
    Function* f = FindBase(base, baseOffset);
    if (!f)
        return false;
    if (!f->mapped)
        return false;
    f->card->Write(WindowOffset(baseOffset, offset), value, Decoding(*f));
    return true;
}

CardRecord PciBus::Record(int card) const {
    if (card < 0 || static_cast<size_t>(card) >= cards_.size())
        return CardRecord{};
    const Function& f = *cards_[static_cast<size_t>(card)];
    return f.card->Record();
}

TapState PciBus::CardTapState(int card) const {
    if (card < 0 || static_cast<size_t>(card) >= cards_.size())
        return TapState::TestLogicReset;
    const Function& f = *cards_[static_cast<size_t>(card)];
    return f.card->State();
}

bool PciBus::Mapped(int card) const {
    if (card < 0 || static_cast<size_t>(card) >= cards_.size())
        return false;
    const Function& f = *cards_[static_cast<size_t>(card)];
    return f.mapped;
}

bool PciBus::WithCardI2c(uint32_t handle, const std::function<void(CardI2c&)>& action) {
    Function* f = FindHandle(handle);
    if (!f || !f->card)
        return false;
    action(f->card->I2c());
    return true;
}

void PciBus::FlushTraces() {
    for (Function* f : cards_) {
        f->card->GetTrace().Flush();
    }
}

} // namespace sim
