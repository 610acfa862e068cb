#include "system/PowerSettings.h"

#include <utility>

const plat::PowerGuid kProcessorSubgroup{
    0x54533251, 0x82BE, 0x4824, {0x96, 0xC1, 0x47, 0xB6, 0x0B, 0x74, 0x0D, 0x00}};
const plat::PowerGuid kProcessorThrottleMinimum{
    0x893DEE8E, 0x2BEF, 0x41E0, {0x89, 0xC6, 0xB5, 0x5D, 0x09, 0x29, 0x96, 0x4C}};
const plat::PowerGuid kVideoSubgroup{
    0x7516B95F, 0xF776, 0x4464, {0x8C, 0x53, 0x06, 0x16, 0x7F, 0x40, 0xCC, 0x99}};
const plat::PowerGuid kVideoPowerdownTimeout{
    0x3C0BC021, 0xC8A8, 0x4E07, {0xA9, 0x73, 0x6B, 0x14, 0xCB, 0xCB, 0x2B, 0x7E}};

namespace {

constexpr uint32_t kFullProcessorState = 100;
constexpr uint32_t kDisplayNeverOff = 0;

} // namespace

CPowerSettings::CPowerSettings(plat::Console& console, plat::Power& power, plat::Processes& processes)
    : console_(console), power_(power), processes_(processes) {}

void CPowerSettings::ApplyUpdatePowerSettings(std::function<void()> cleanUp,
                                              std::function<bool()> runEndsItself) {
    console_.AddControlHandler(
        [this, cleanUp = std::move(cleanUp), runEndsItself = std::move(runEndsItself)](uint32_t) {
            if (runEndsItself && runEndsItself())
                return true;
            RestorePowerSettings();
            cleanUp();
            processes_.Exit(1);
            return true;
        });
    power_.SetHighPriority();
    power_.SetExecutionState(kUpdateExecutionState);
    power_.TakeActiveScheme();
    // Only a value that was read is changed (and later put back): writing back a value never read would
    // leave the user's scheme with 0, a display that never turns off.
    savedMinValid_ = power_.ReadAcValue(kProcessorSubgroup, kProcessorThrottleMinimum, savedMinProcessor_);
    if (savedMinValid_)
        power_.WriteAcValue(kProcessorSubgroup, kProcessorThrottleMinimum, kFullProcessorState);
    savedDisplayValid_ = power_.ReadAcValue(kVideoSubgroup, kVideoPowerdownTimeout, savedDisplayTimeout_);
    if (savedDisplayValid_)
        power_.WriteAcValue(kVideoSubgroup, kVideoPowerdownTimeout, kDisplayNeverOff);
    power_.ActivateScheme();
}

void CPowerSettings::RestorePowerSettings() {
    if (savedMinValid_)
        power_.WriteAcValue(kProcessorSubgroup, kProcessorThrottleMinimum, savedMinProcessor_);
    if (savedDisplayValid_)
        power_.WriteAcValue(kVideoSubgroup, kVideoPowerdownTimeout, savedDisplayTimeout_);
    power_.ActivateScheme();
}

void CPowerSettings::RestartSystem(const std::function<void()>& onRestart) {
    if (onRestart)
        onRestart();
    restartInitiated_.store(true);
    RestorePowerSettings();
    power_.EnableShutdownPrivilege();
    power_.RequestRestart(0, true, true, kRestartReason);
}
