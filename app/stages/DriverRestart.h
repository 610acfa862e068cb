// A display driver that can only be taken off the cards after a restart: with -n the run ends with 3;
// otherwise, after a yes (or with -q), the RunOnce entry and the desktop manager's settings are written and
// the machine restarts; a no puts the driver back and ends the run.
#pragma once

#include <functional>

#include "app/Printer.h"
#include "app/stages/SystemParts.h"
#include "platform/Platform.h"
#include "update/CmdLineOptions.h"

struct tagDriverRestartOutcome {
    enum class Next { Update, EndEarly, Restarted };
    Next next = Next::Update;
    int result = 0; // for EndEarly: 3 with -n, else unchanged (-1)
};

// `releaseCards` closes every card's port without success (before the driver comes back).
tagDriverRestartOutcome HandleDriverRestart(plat::Platform& platform, CPrinter& printer,
                                            tagSystemParts& parts, const tagCmdLineOptions& options,
                                            const std::function<void()>& releaseCards);
