// Before the cards are listed for the XSVF stream: the desktop manager's settings saved (taken back from
// "Config" after a restart, else exported), and the display driver taken off the cards when it is
// installed, with the desktop manager closed around the disable.
#pragma once

#include "app/stages/SystemParts.h"

// The settings: "Config" written back into the settings file when it holds something (the export tool is
// then not run), else the export.
void SaveDesktopSettings(tagSystemParts& parts);

struct tagDriverStepInput {
    bool haveStream = false; // an update file was read
    bool adlCarries = false; // the display library carries a verified flash image: the driver stays
};

// Queries the driver and, when one is installed, disables it. Needs the tool to be ready.
void TakeDriverOffCards(tagSystemParts& parts, const tagDriverStepInput& input);
