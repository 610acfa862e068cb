// The program's options: parsed once from the arguments, then copied whole into every card object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

class CCmdLine {
public:
    CCmdLine();
    CCmdLine(const CCmdLine& other);
    CCmdLine& operator=(const CCmdLine& other);
    virtual ~CCmdLine();

    // What a parse came to, before any key wait or exit.
    enum class Outcome { Accepted, Help, Errors };

    // Parses the arguments (the first, the program path, is skipped). Returns 1 when every argument was
    // accepted; after help or any error it waits for a key and ends the process with exit code 0.
    int Parse(int argc, char** argv, plat::Console& console, plat::Processes& processes);

    // The parse itself: prints the help screen or each error as it is met, and says how it ended.
    Outcome ParseArguments(int argc, char** argv, plat::Console& console);

    static void PrintHelp(plat::Console& console);
    void ShowHelp(plat::Console& console) const { PrintHelp(console); }

    // Decimal text: leading blanks, an optional sign, digits up to the first other character; no digits
    // gives 0. Wraps around instead of overflowing.
    static int32_t ParseNumber(const char* text);

    int quiet = 0;
    int verbose = 0;
    const char* flashFile = nullptr;
    int calibrate = -1;
    int beep = 0;
    int logToFile = 1;
    int noReboot = 0;
    int forceXsvf = 0;
    uint32_t i2cSpeedKhz = 0;
    int testCount = 0;
    const char* testFlashFile = nullptr;
};
