// The program's options: parsed once from the arguments into the plain record of update/CmdLineOptions.h,
// which is then copied whole into every card object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "update/CmdLineOptions.h"

class CCmdLine : public tagCmdLineOptions {
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
};
