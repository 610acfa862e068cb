// The system-integration parts a run holds for its whole life and hands to the stages that use them: the
// child processes, the display driver's tool, the desktop manager, the resume state, the power settings,
// and what a restart registers.
#pragma once

#include <functional>
#include <string>

#include "app/ResumeState.h"
#include "system/ChildProcesses.h"
#include "system/DesktopManager.h"
#include "system/DisplayDriver.h"
#include "system/PowerSettings.h"

struct tagSystemParts {
    CChildProcesses& children;
    CDisplayDriver& driver;
    CDesktopManager& lumo;
    CResumeState& resume;
    CPowerSettings& power;
    // The command line RunOnce is to start, for this run's test count (see RegisteredCommandLine).
    std::function<std::wstring(int nextTestCount)> registeredCommandLine;
    // Lets the console window go before a restart (the keep-in-front thread ends).
    std::function<void()> onRestart;
};
