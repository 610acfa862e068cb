// The program's register seam straight into one simulated card's I2C side (the engine's offsets in its
// window), and the clocks a message must take, for the benchmarks of what the program sends over a card's
// I2C bus.
#pragma once

#include <cstdint>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "sim/CardI2c.h"

// The clocks the bus must carry for one message of `count` data bytes at a sub-address of `width` bytes:
// start, the address and sub-address bytes, the data bytes and a stop; a read adds a repeated start and the
// read address. A write without data ends without a stop (the next message's start is then a repeated
// start, one clock, counted there).
constexpr uint64_t MessageClocks(bool read, uint32_t width, uint32_t count) {
    if (read)
        return 1 + 9 * (1 + uint64_t{width}) + 1 + 9 * (1 + uint64_t{count}) + 1;
    return 1 + 9 * (1 + uint64_t{width} + count) + (count > 0 ? 1 : 0);
}

class CardI2cBus : public RegisterBus {
public:
    explicit CardI2cBus(sim::CardI2c& card) : card_(card) {}
    uint32_t ReadMem(uintptr_t, uint32_t offset) override { return card_.Read(offset); }
    void WriteMem(uintptr_t, uint32_t offset, uint32_t value) override { card_.Write(offset, value); }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

private:
    sim::CardI2c& card_;
};
