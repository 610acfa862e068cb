// The simulated machine's PCI bus: its functions in bus order, their configuration space, and the register
// windows of the Q740 cards, mapped and reached the way the hardware-access service hands them out.
//
// Threads: different functions may be used from different threads at once; nothing is shared between them
// on an access. One function (its configuration space, window and card) is used by one thread at a time, as
// the program's one worker per card uses it; whoever hands a card to another thread orders the hand-over
// (the program does, through the worker's start and its job's finish flag). No access takes a lock, so a
// register write costs what the card's model costs; ThreadSanitizer reports a program that drives one card
// from two threads at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/Card.h"
#include "sim/Machine.h"

namespace sim {

// Mapped windows: card n (0-based, in bus order) is reached at this base + n * kCardWindowSize, a value
// that fits in 32 bits, as the 32-bit product needs.
constexpr uintptr_t kMappedWindowBase = 0x10000000u;

class PciBus {
public:
    // Makes the device behind the TAP of the index-th Q740 card (may return null).
    using DeviceFactory = std::function<std::unique_ptr<JtagDevice>(const PciFunction&, int index)>;

    // Card traces: each card's `trace` path (mapped into `machineDir` when it is a Windows path) and, when
    // `sharedTracePath` is not empty, that file for all cards with each line prefixed by the location.
    PciBus(const MachineDescription& machine, const std::string& machineDir, const DeviceFactory& devices,
           const std::string& sharedTracePath = "");
    ~PciBus();
    PciBus(const PciBus&) = delete;
    PciBus& operator=(const PciBus&) = delete;

    size_t FunctionCount() const { return functions_.size(); }
    uint32_t HandleAt(size_t index) const { return functions_[index]->info.Handle(); }
    int CardCount() const { return static_cast<int>(cards_.size()); }

    // Configuration space, 256 bytes. A read at an offset that is not a multiple of 4 gives the dword it
    // falls in shifted right by 8 times the byte offset. Writes keep the command register (0x04, its low
    // 16 bits) and dword 0xE0; other writes, and writes at unaligned offsets, are ignored. False for an
    // unknown handle or an offset beyond 0xFF (the value is then left alone).
    bool ReadConfig(uint32_t handle, uint32_t offset, uint32_t& value);
    bool WriteConfig(uint32_t handle, uint32_t offset, uint32_t value);

    // Maps the register window of the Q740 card whose window is at the full 64-bit `address`; 0 for an
    // unknown address, a length other than 0x10000, or a card described with `map = fail`. Mapping a mapped
    // window again gives the same base.
    uintptr_t Map(uint64_t address, uint32_t length, uint32_t flags);
    bool Unmap(uintptr_t base);
    // Register accesses through a mapped base; false (value untouched) when the base is not mapped.
    bool ReadMem(uintptr_t base, uint32_t offset, uint32_t& value);
    bool WriteMem(uintptr_t base, uint32_t offset, uint32_t value);

    // The full address of the last mapping request, whatever became of it.
    uint64_t LastMapRequest() const { return lastMapRequest_.load(); }
    // A copy of what the index-th card saw, and whether its window is mapped now.
    CardRecord Record(int card) const;
    TapState CardTapState(int card) const;
    bool Mapped(int card) const;
    void FlushTraces();
    // Runs `action` on the I2C side of the Q740 card with this handle, as the display driver reaches the
    // card's bus; false when the handle names no Q740 card (nothing runs).
    bool WithCardI2c(uint32_t handle, const std::function<void(CardI2c&)>& action);

private:
    struct Function {
        PciFunction info;
        std::array<uint8_t, 256> config{};
        std::unique_ptr<Card> card; // Q740 functions only
        int cardIndex = -1;
        bool mapped = false;
    };
    Function* FindHandle(uint32_t handle) const;
    Function* FindBase(uintptr_t base, uint32_t& offsetBase) const;
    static uint32_t Dword(const Function& f, uint32_t offset);
    static bool Decoding(const Function& f) { return (f.config[4] & 2) != 0; }

    std::vector<std::unique_ptr<Function>> functions_;
    std::vector<Function*> cards_;
    TraceFiles traceFiles_;
    std::atomic<uint64_t> lastMapRequest_{0};
};

} // namespace sim
