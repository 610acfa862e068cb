// The end of a run: the steps every way out takes, in their order, once the run has decided how it ends.
#pragma once

#include <functional>

#include "app/Printer.h"
#include "platform/Platform.h"
#include "system/PowerSettings.h"

struct tagRunEnd {
    int result = 1;                // the exit code
    bool afterUpdate = false;      // the run got as far as the update phase
    bool restartInitiated = false; // a restart is under way: nothing more is printed or put back
    bool quiet = false;            // no final key wait
};

// After an update attempt the resume state goes; then the power settings are put back, `cleanUp` frees
// what the run holds, and the final key wait follows. Returns the exit code.
int EndRun(const tagRunEnd& end, plat::Platform& platform, CPrinter& printer, CPowerSettings& power,
           const std::function<void()>& cleanUp);
