// The program's register seam straight into one simulated card's I2C side (the engine's offsets in its
// window), for the benchmarks of what the program sends over a card's I2C bus.
#pragma once

#include <cstdint>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "sim/CardI2c.h"

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
