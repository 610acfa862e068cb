// After the update phase: the display driver put back, the desktop manager's settings imported, and the
// restart that either of them needs, with the state the final pass after it reads.
#pragma once

#include "app/Printer.h"
#include "app/stages/SystemParts.h"
#include "update/CmdLineOptions.h"

struct tagUpdateFinishInput {
    bool aborted = false; // the update prompt (or the test's space bar) stopped it
    bool adlFlashImage =
        false; // a verified flash image went through the display library: checked after a restart
};

struct tagUpdateFinishOutcome {
    bool restarted = false;         // RestartSystem ran: the run ends with 0 at once
    bool enableNeedsReboot = false; // -n kept a needed restart from happening: the run's result is 4
};

tagUpdateFinishOutcome FinishUpdate(CPrinter& printer, tagSystemParts& parts,
                                    const tagCmdLineOptions& options, const tagUpdateFinishInput& input);
