// The last run of an update, after its last restart: the cards an update through the display library left
// ("Validate") checked through it, the saved transcript shown again, the desktop manager's settings
// imported when the cards are fine, and the final key wait.
#pragma once

#include "app/Printer.h"
#include "app/stages/AdlCards.h"
#include "app/stages/SystemParts.h"
#include "platform/Platform.h"
#include "update/CmdLineOptions.h"

// `transcript` is the "Log" value just read. Returns the run's exit code.
int RunFinalPass(plat::Platform& platform, CPrinter& printer, tagSystemParts& parts, tagAdlAccess& adl,
                 const tagCmdLineOptions& options, const std::wstring& transcript);
