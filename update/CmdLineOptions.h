// The options of one run as a plain record: what CCmdLine (app/CmdLine.h) parses the arguments into, and
// what every card object keeps a copy of. The fields in their order; CCmdLine says what sets each.
#pragma once

#include <cstdint>

struct tagCmdLineOptions {
    int quiet = 0;                       // no prompts and no final key wait
    int verbose = 0;                     // verbosity level; kept, not acted on
    const char* flashFile = nullptr;     // the update file, pointing into the arguments
    int calibrate = -1;                  // -1 not given, 0 off, 1 on; kept, not acted on
    int beep = 0;                        // audible beeps during the update; the parse starts it at 1
    int logToFile = 1;                   // the printer's log switch
    int noReboot = 0;                    // ask for the restart instead of restarting
    int forceXsvf = 0;                   // update through the XSVF stream
    uint32_t i2cSpeedKhz = 0;            // I2C clock in kHz; 0 keeps the default
    int testCount = 0;                   // repeated-update test counter; -1 given as 0 or no number
    const char* testFlashFile = nullptr; // second update file of the repeated-update test
};
