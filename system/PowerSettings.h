// The machine's power state around an update: what is changed at the start of a run and put back on every
// way out, and the console control handler that puts it back when the program is stopped from the console.
#pragma once

#include <functional>

#include "platform/Platform.h"

class CPowerSettings {
public:
    CPowerSettings(plat::Console& console, plat::Power& power, plat::Processes& processes);

    // Registers the console control handler (put the power state back, run `cleanUp`, end the process with
    // exit code 1), then raises the process priority.
    void ApplyUpdatePowerSettings(std::function<void()> cleanUp);
    // Puts back what ApplyUpdatePowerSettings changed that outlives the process: nothing yet, since no
    // power scheme value is changed.
    void RestorePowerSettings();

private:
    plat::Console& console_;
    plat::Power& power_;
    plat::Processes& processes_;
};
