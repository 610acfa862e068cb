// The machine's power and scheduling state as the update needs it: the priority class, the execution
// state, the active power scheme's AC values, and the restart request with the privilege it needs.
#pragma once

#include <cstdint>

namespace plat {

// A power-setting GUID in its parts.
struct PowerGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0, data3 = 0;
    uint8_t data4[8] = {};
};

class Power {
public:
    virtual ~Power() = default;
    // Raises the program's priority class to high.
    virtual void SetHighPriority() = 0;
    // SetThreadExecutionState with these flags.
    virtual void SetExecutionState(uint32_t flags) = 0;
    // Takes the active scheme of the local machine; later reads, writes and activations use it. False when
    // there is none (the calls then fail).
    virtual bool TakeActiveScheme() = 0;
    // The active scheme's AC value of one setting. False when it cannot be read (the value is untouched).
    virtual bool ReadAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t& value) = 0;
    virtual bool WriteAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t value) = 0;
    // Makes the active scheme's stored values take effect.
    virtual bool ActivateScheme() = 0;
    // Enables SeShutdownPrivilege in the process's token.
    virtual bool EnableShutdownPrivilege() = 0;
    // InitiateSystemShutdownExW on the local machine, without a message. Returns once the request is made
    // or refused; the caller ends its run.
    virtual bool RequestRestart(uint32_t timeoutSeconds, bool forceAppsClosed, bool rebootAfterShutdown,
                                uint32_t reason) = 0;
};

} // namespace plat
