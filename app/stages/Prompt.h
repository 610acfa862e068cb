// The update's y/n question, asked before a restart and before the update.
#pragma once

#include "app/Printer.h"
#include "platform/Platform.h"

// Prints the prompt, reads keys until y, Y, n or N, then takes the prompt off the screen. True for yes. The
// end of the input counts as n: nothing is done without a yes.
bool AskToContinue(CPrinter& printer, plat::Console& console);
