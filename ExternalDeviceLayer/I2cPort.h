// What a card offers for I2C transfers to its FPGA's slaves, whichever route carries them (the GPU's own
// engine, or the display library's call): the SPI flash writer works through this and nothing else.
// Both transfer methods return 1 on success and 0 on failure. On the engine route the caller brackets its
// work with I2cEngineAcquire and I2cEngineRelease; on the display-library route those do nothing.
#pragma once

#include <cstdint>

class CI2cPort {
public:
    virtual ~CI2cPort() = default;
    virtual int I2cRead(uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress, uint32_t count,
                        unsigned char* buffer) = 0;
    virtual int I2cWrite(uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress, uint32_t count,
                         const unsigned char* buffer) = 0;
    virtual int I2cEngineAcquire() = 0;
    virtual int I2cEngineRelease() = 0;
};
