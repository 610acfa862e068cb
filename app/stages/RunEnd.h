// The end of a run: the steps every way out takes, in their order, once the run has decided how it ends.
#pragma once

#include <functional>

#include "app/Printer.h"
#include "app/stages/SystemParts.h"
#include "platform/Platform.h"

struct tagRunEnd {
    int result = 1;                // the exit code
    bool afterUpdate = false;      // the run got as far as the update prompt
    bool restartInitiated = false; // a restart is under way: nothing more is printed or put back
    bool quiet = false;            // no final key wait
};

// Unless a restart is under way: the desktop manager is started again when the run closed it; after an
// update attempt the resume state goes; the power settings are put back. Then the driver tool is let go,
// `cleanUp` frees what the run holds, and the final key wait follows. Returns the exit code.
int EndRun(const tagRunEnd& end, plat::Platform& platform, CPrinter& printer, tagSystemParts& parts,
           const std::function<void()>& cleanUp);
