// I2C transfers through the display library's large-payload call, for a card the run matched to a
// display-library adapter: the two sub-address bytes (high first) go before the data of every write, and a
// read is a sub-address write followed by a read. A failed call is retried up to the process-wide retry
// count; before each retry a line goes to the log only and the desktop manager is closed, since it may
// hold the bus.
#pragma once

#include <cstdint>
#include <functional>

#include "abi/AdlAbi.h"

// The display library's I2C call for one adapter, as the binder offers it.
class CAdlI2cCall {
public:
    virtual ~CAdlI2cCall() = default;
    virtual int32_t Display_WriteAndReadI2CLargePayload(int32_t adapterIndex, ADLI2CLargePayload* record) = 0;
};

// What a retry does besides calling again: a line for the log only, and closing the desktop manager.
struct tagAdlI2cHooks {
    std::function<void(const wchar_t* text)> logOnly;
    std::function<void()> closeDesktopManager;
};

// Both return 1 on success and 0 on failure, and 0 at once for a null buffer or a count of 0.
int I2cAdlWrite(CAdlI2cCall& adl, const tagAdlI2cHooks& hooks, int32_t adapterIndex, uint32_t slaveAddress,
                uint16_t subAddress, const unsigned char* buffer, uint32_t count);
int I2cAdlRead(CAdlI2cCall& adl, const tagAdlI2cHooks& hooks, int32_t adapterIndex, uint32_t slaveAddress,
               uint16_t subAddress, unsigned char* buffer, uint32_t count);
