// The GPU's generic I2C engine, driven through its seven registers in the card's register window: acquire
// (enable, soft reset, pins, time limit, speed), release (pins parked, enable cleared), one transaction per
// go with a bounded wait for done, and the write and read messages that the FPGA's slaves are reached with.
// A message is sent one engine transaction per byte after its header (slave address and sub-address).
// Nothing is printed and the engine is never reset after a failure: the next message starts afresh.
#pragma once

#include <cstdint>

#include "ExternalDeviceLayer/MArray.h"
#include "ExternalDeviceLayer/Regs.h"

// Status reads after a go before the transaction counts as lost.
constexpr uint32_t kI2cGoStatusReads = 10000;
constexpr uint32_t kI2cMaxSubAddressWidth = 4;

// One I2C message: the 8-bit slave address (its low 8 bits), a sub-address of 0 to 4 bytes sent most
// significant first, and the data bytes (to send, or the place for the bytes read).
struct tagI2cMessage {
    uint32_t slaveAddress = 0;
    uint32_t subAddress = 0;
    uint32_t subAddressWidth = 0;
    CMArray<unsigned char> data;
};

// Prescale of the engine's bus clock for a speed in kHz: 13500 / speed rounded to the nearest (a remainder
// of at least half the speed rounds up), cut to 16 bits. 0 for a speed of 0, which has no clock.
uint32_t I2cPrescale(uint32_t speedKhz);

class CI2cEngine {
public:
    explicit CI2cEngine(const tagRegWindow& window) : window_(window) {}

    // Both return 1. Acquire programs the speed of the process-wide I2C settings at this moment.
    int I2cEngineAcquire();
    int I2cEngineRelease();
    // Starts the transaction in TRANSACTION; 1 when done was seen within kI2cGoStatusReads reads.
    int I2cEngineGo();
    // 1 when every transaction finished. A sub-address wider than 4 bytes is refused (0, nothing sent).
    int I2cEngineWrite(const tagI2cMessage& message);
    // Fills the message's data with the bytes read; a failure leaves the bytes not read as they were.
    int I2cEngineRead(tagI2cMessage& message);

private:
    int SendHeader(const tagI2cMessage& message);
    void LoadByte(uint32_t byte, bool indexWrite);
    int Transaction(bool read, bool ack, bool start, bool stop, uint32_t count);

    const tagRegWindow& window_;
};
