// The machine's power state around an update: the active scheme's AC values changed at the start of a run
// and put back on every way out, the stay-awake request and the priority, the console control handler that
// puts the values back when the program is stopped from the console, and the restart.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/Platform.h"

// SetThreadExecutionState: continuous, system required, away mode.
constexpr uint32_t kUpdateExecutionState = 0x80000041u;
// InitiateSystemShutdownExW's reason: hardware, upgrade, not planned.
constexpr uint32_t kRestartReason = 0x00010003u;

// The two settings changed, by subgroup and setting GUID.
extern const plat::PowerGuid kProcessorSubgroup;
extern const plat::PowerGuid kProcessorThrottleMinimum;
extern const plat::PowerGuid kVideoSubgroup;
extern const plat::PowerGuid kVideoPowerdownTimeout;

class CPowerSettings {
public:
    CPowerSettings(plat::Console& console, plat::Power& power, plat::Processes& processes);

    // Registers the console control handler (unless `runEndsItself` answers true, which it does while
    // workers write to the cards and the run will end itself once they are done: the power values go back,
    // `cleanUp` frees what the run holds, the process ends with exit code 1), raises the
    // priority, asks the system to stay awake, saves the two AC values and writes 100 % minimum processor
    // state and no display time-out (each only when it could be read), and activates the scheme. Nothing is
    // examined or printed.
    void ApplyUpdatePowerSettings(std::function<void()> cleanUp, std::function<bool()> runEndsItself = {});
    // Writes the saved values back (those that were read) and activates the scheme.
    void RestorePowerSettings();
    // `onRestart` runs first (it lets the console window go); then restartInitiated is set, the power
    // values go back, the shutdown privilege is enabled and a restart requested at once, applications
    // closed by force. The caller ends its run with 0 whatever came of the request.
    void RestartSystem(const std::function<void()>& onRestart);
    bool RestartInitiated() const { return restartInitiated_.load(); }

    uint32_t SavedMinProcessor() const { return savedMinProcessor_; }
    uint32_t SavedDisplayTimeout() const { return savedDisplayTimeout_; }

private:
    plat::Console& console_;
    plat::Power& power_;
    plat::Processes& processes_;
    // Written once before any handler can run, only read afterwards.
    uint32_t savedMinProcessor_ = 0;
    uint32_t savedDisplayTimeout_ = 0;
    bool savedMinValid_ = false;
    bool savedDisplayValid_ = false;
    std::atomic<bool> restartInitiated_{false};
};
