// Power management of the simulated machine: the active power scheme with the AC and DC values of two
// settings (minimum processor state, display time-out), which take effect when the scheme is activated; the
// execution state and priority class a process asked for; the shutdown privilege and the restart request.
// Results are Win32 error codes (0 success) as the power and shutdown calls return them.
//
// The state lives in "DIR/power.ini"; callers load it, act, and save it after each change (another process,
// q740sim show or a test, may look at any time).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Fields.h"

namespace sim {

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorNotAllAssigned = 1300;
constexpr uint32_t kErrorShutdownInProgress = 1115;
constexpr uint32_t kErrorPowerAccessDenied = 5;
constexpr uint32_t kErrorPowerNotFound = 2;
constexpr uint32_t kErrorReadFault = 30;

// Power-setting GUIDs in registry form, upper case, with braces.
constexpr const char* kBalancedScheme = "{381B4222-F694-41F0-9685-D5958D3C4BE6}";
constexpr const char* kProcessorSubgroup = "{54533251-82BE-4824-96C1-47B60B740D00}";
constexpr const char* kProcessorMinimum = "{893DEE8E-2BEF-41E0-89C6-B55D0929964C}";
constexpr const char* kVideoSubgroup = "{7516B95F-F776-4464-8C53-06167F40CC99}";
constexpr const char* kVideoTimeout = "{3C0BC021-C8A8-4E07-A973-6B14CBCB2B7E}";

// SetThreadExecutionState flags.
constexpr uint32_t kEsSystemRequired = 0x1;
constexpr uint32_t kEsDisplayRequired = 0x2;
constexpr uint32_t kEsUserPresent = 0x4;
constexpr uint32_t kEsAwayModeRequired = 0x40;
constexpr uint32_t kEsContinuous = 0x80000000u;

// Section [power] of the description: the values a new machine's scheme holds and the faults.
struct PowerSettings {
    uint32_t acMinProcessor = 5;     // "ac-min-processor" (percent)
    uint32_t acDisplayTimeout = 600; // "ac-display-timeout" (seconds, 0 never)
    uint32_t dcMinProcessor = 5;     // "dc-min-processor"
    uint32_t dcDisplayTimeout = 300; // "dc-display-timeout"
    bool readFails = false;          // "read-fails": reading a value fails
    bool writeFails = false;         // "write-fails": writing a value fails (access denied)
    bool shutdownPrivilege = true;   // "shutdown-privilege": the token holds SeShutdownPrivilege
    bool restartRefused = false;     // "restart-refused": the restart request is refused
};
const std::vector<Field<PowerSettings>>& PowerFields();

struct RestartRequest {
    bool requested = false;
    bool forceAppsClosed = false;
    bool rebootAfterShutdown = false;
    uint32_t timeoutSeconds = 0;
    uint32_t reason = 0;
    std::string by; // the process that asked
};

struct PowerState {
    std::string activeScheme = kBalancedScheme;
    // The scheme's stored values.
    uint32_t acMinProcessor = 5, acDisplayTimeout = 600, dcMinProcessor = 5, dcDisplayTimeout = 300;
    // The values in force: the stored ones as of the last activation (or the start).
    uint32_t activeMinProcessor = 5, activeDisplayTimeout = 600;
    uint32_t activations = 0;
    // What the last process that asked requested (its name, the flags, the class).
    std::string executionBy;
    uint32_t executionState = 0;
    std::string priorityBy;
    uint32_t priorityClass = 0x20; // NORMAL_PRIORITY_CLASS
    bool privilegeEnabled = false;
    RestartRequest restart;
};

// A new machine's state from its settings.
PowerState InitialPower(const PowerSettings& settings);

// PowerReadACValueIndex, PowerWriteACValueIndex, PowerSetActiveScheme. GUIDs compare without case and
// braces. The minimum processor state takes 0 to 100; the display time-out any number of seconds.
uint32_t ReadAcValue(const PowerState& state, const PowerSettings& settings, const std::string& scheme,
                     const std::string& subgroup, const std::string& setting, uint32_t& value);
uint32_t WriteAcValue(PowerState& state, const PowerSettings& settings, const std::string& scheme,
                      const std::string& subgroup, const std::string& setting, uint32_t value);
uint32_t ActivateScheme(PowerState& state, const std::string& scheme);

// SetThreadExecutionState: the previous state, or 0 when the flags are refused (ES_USER_PRESENT, or away
// mode without ES_CONTINUOUS); a state without ES_CONTINUOUS is a one-time reset and is not kept.
uint32_t SetExecutionState(PowerState& state, const std::string& process, uint32_t flags);
// SetPriorityClass: false (ERROR_INVALID_PARAMETER) for a value that is no priority class.
bool SetPriorityClass(PowerState& state, const std::string& process, uint32_t priorityClass);
// AdjustTokenPrivileges for SeShutdownPrivilege: 0, or ERROR_NOT_ALL_ASSIGNED when the token lacks it.
uint32_t EnableShutdownPrivilege(PowerState& state, const PowerSettings& settings);
// InitiateSystemShutdownEx on the local machine. On success the request is recorded and the machine goes
// down: the simulation ends the requesting process (the caller does that). Fails with access denied
// without the enabled privilege, ERROR_SHUTDOWN_IN_PROGRESS when one is requested already.
uint32_t RequestShutdown(PowerState& state, const PowerSettings& settings, const std::string& process,
                         uint32_t timeoutSeconds, bool forceAppsClosed, bool rebootAfterShutdown,
                         uint32_t reason);
// "hardware: upgrade (unplanned)" for 0x00010003: the major and minor reason and the planned flag.
std::string DescribeShutdownReason(uint32_t reason);
// A restart: requests, execution states and the privilege end with the processes; the values stay.
void PowerAtRestart(PowerState& state);

bool LoadPower(const std::string& dir, const PowerSettings& settings, PowerState& state);
bool SavePower(const std::string& dir, const PowerState& state);

} // namespace sim
