#include "app/stages/DriverStep.h"

#include <string>

void SaveDesktopSettings(tagSystemParts& parts) {
    std::string config;
    if (parts.resume.ReadConfig(config))
        parts.lumo.WriteSettingsFile(config);
    else
        parts.lumo.ExportLumoSettings();
}

void TakeDriverOffCards(tagSystemParts& parts, const tagDriverStepInput& input) {
    if (!parts.driver.ToolReady() || !input.haveStream || input.adlCarries)
        return;
    parts.driver.QueryDisplayDriver();
    if (parts.driver.DriverPresent())
        parts.driver.DisableDisplayDriver();
}
