#include "system/PowerSettings.h"

#include <utility>

CPowerSettings::CPowerSettings(plat::Console& console, plat::Power& power, plat::Processes& processes)
    : console_(console), power_(power), processes_(processes) {}

void CPowerSettings::ApplyUpdatePowerSettings(std::function<void()> cleanUp) {
    console_.AddControlHandler([this, cleanUp = std::move(cleanUp)](uint32_t) {
        RestorePowerSettings();
        cleanUp();
        processes_.Exit(1);
        return true;
    });
    power_.SetHighPriority();
}

void CPowerSettings::RestorePowerSettings() {}
