// One update run from start to end: options, log, start-up, update files, listing, and every way it ends.
#pragma once

#include "platform/Platform.h"

// Runs the program and returns its exit code.
int RunUpdater(plat::Platform& platform, int argc, char** argv);
