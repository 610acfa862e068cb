#include "ExternalDeviceLayer/AdlI2c.h"

#include <cwchar>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "ExternalDeviceLayer/MArray.h"

namespace {

// The record as the program fills it. Its size field is the size of the record this build sends.
ADLI2CLargePayload Record(uint32_t slaveAddress, int32_t action, uint32_t size, char* data) {
    ADLI2CLargePayload record{};
    record.iSize = static_cast<int32_t>(sizeof(ADLI2CLargePayload));
    record.iLine = kAdlI2cLine;
    record.iAddress = static_cast<int32_t>(slaveAddress);
    record.iOffset = 0;
    record.iAction = action;
    record.iSpeed = static_cast<int32_t>(I2cSettings().SpeedKhz());
    record.iFlags = 0;
    record.iDataSize = static_cast<int32_t>(size);
    record.pBuffer = data;
    return record;
}

// One call with its retries; `failure` is the log line's format before each retry.
bool CallWithRetries(CAdlI2cCall& adl, const tagAdlI2cHooks& hooks, int32_t adapterIndex,
                     ADLI2CLargePayload record, const wchar_t* failure) {
    const uint32_t retries = I2cSettings().RetryCount();
    if (adl.Display_WriteAndReadI2CLargePayload(adapterIndex, &record) == kAdlOk)
        return true;
    for (uint32_t attempt = 0; attempt < retries; ++attempt) {
        wchar_t line[64];
        std::swprintf(line, sizeof line / sizeof line[0], failure, static_cast<unsigned>(record.iAddress));
        if (hooks.logOnly)
            hooks.logOnly(line);
        if (hooks.closeDesktopManager)
            hooks.closeDesktopManager();
        if (adl.Display_WriteAndReadI2CLargePayload(adapterIndex, &record) == kAdlOk)
            return true;
    }
    return false;
}

// The sub-address bytes, high first, then the data.
bool SendWithSubAddress(CAdlI2cCall& adl, const tagAdlI2cHooks& hooks, int32_t adapterIndex,
                        uint32_t slaveAddress, uint16_t subAddress, const unsigned char* data, uint32_t count,
                        const wchar_t* failure) {
    CMArray<char> bytes;
    bytes.SetCount(static_cast<int32_t>(count + 2), -1);
    bytes[0] = static_cast<char>(subAddress >> 8);
    bytes[1] = static_cast<char>(subAddress & 0xFF);
    for (uint32_t i = 0; i < count; ++i)
        bytes[static_cast<int32_t>(i + 2)] = static_cast<char>(data[i]);
    return CallWithRetries(adl, hooks, adapterIndex,
                           Record(slaveAddress, kAdlI2cActionWrite, count + 2, bytes.Data()), failure);
}

} // namespace

int I2cAdlWrite(CAdlI2cCall& adl, const tagAdlI2cHooks& hooks, int32_t adapterIndex, uint32_t slaveAddress,
                uint16_t subAddress, const unsigned char* buffer, uint32_t count) {
    if (!buffer || count == 0)
        return 0;
    return SendWithSubAddress(adl, hooks, adapterIndex, slaveAddress, subAddress, buffer, count,
                              L"\ni2c write failed at address %02X \n")
               ? 1
               : 0;
}

int I2cAdlRead(CAdlI2cCall& adl, const tagAdlI2cHooks& hooks, int32_t adapterIndex, uint32_t slaveAddress,
               uint16_t subAddress, unsigned char* buffer, uint32_t count) {
    if (!buffer || count == 0)
        return 0;
    if (!SendWithSubAddress(adl, hooks, adapterIndex, slaveAddress, subAddress, nullptr, 0,
                            L"\ni2c read write failed at address %02X \n"))
        return 0;
    return CallWithRetries(adl, hooks, adapterIndex,
                           Record(slaveAddress, kAdlI2cActionRead, count, reinterpret_cast<char*>(buffer)),
                           L"\ni2c read failed at address %02X \n")
               ? 1
               : 0;
}
