// The update file check: the file the options name (in the repeated-update test, the other file on odd
// counts) and the flash image beside it, read and checked against their digest files.
#pragma once

#include <cstdint>
#include <vector>

#include "app/Printer.h"
#include "platform/Platform.h"
#include "update/CmdLineOptions.h"

struct tagUpdateFiles {
    // 0, or 2 when the update file cannot be opened.
    int result = 0;
    // The update file's name as given, and its bytes; empty when it could not be used.
    const char* fileName = nullptr;
    std::vector<uint8_t> stream;
    // The XSVF stream is forced, or there is no flash image beside the update file.
    bool xsvfPath = false;
    // A flash image beside the update file matches its digest (and the update file was not corrupt).
    bool imageVerified = false;
};

// The options must name an update file. The open error goes straight to the console; the corrupt-file
// message is printed (and logged) with the card count deciding its plural.
tagUpdateFiles CheckUpdateFiles(plat::Platform& platform, CPrinter& printer, const tagCmdLineOptions& options,
                                int32_t cardCount);
