// CRegs: one typed GPU register of a card's register window. It holds the register's value (0 at first);
// Read loads it from the window, Write stores it and then busy-counts up to the card's settle count, read
// afresh on every pass, so that a settle count changed by another thread takes effect at once. A write
// always succeeds. STATUS is only ever read.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "ExternalDeviceLayer/RegisterLayout.h"

// Where a card's registers are: the seam, the window base and the card's settle count.
struct tagRegWindow {
    RegisterBus& bus;
    uintptr_t regBase;
    const std::atomic<uint32_t>& settleCount;
};

template <class TReg, uint32_t Offset = TReg::kOffset> class CRegs {
public:
    explicit CRegs(const tagRegWindow& window) : window_(window) {}
    CRegs(const CRegs&) = delete;
    CRegs& operator=(const CRegs&) = delete;
    virtual ~CRegs() = default;

    uint32_t Read() {
        value = window_.bus.ReadMem(window_.regBase, Offset);
        return value;
    }
    bool Write() {
        static_assert(!std::is_same<TReg, regs::TRegGENERIC_I2C_STATUS>::value, "STATUS is read only");
        window_.bus.WriteMem(window_.regBase, Offset, value);
        volatile uint32_t spin = 0;
        while (spin < window_.settleCount.load(std::memory_order_relaxed))
            spin = spin + 1;
        return true;
    }
    // The value with one field replaced.
    template <class F> void Set(uint32_t fieldValue) { value = F::Set(value, fieldValue); }
    template <class F> uint32_t Get() const { return F::Get(value); }

    uint32_t value = 0;

private:
    const tagRegWindow& window_;
};
