// The start of a run, before any card is touched: the log file's place and header, the repeated-update
// test's first wait, the banner, and the temporary paths the later stages use.
#pragma once

#include <string>

#include "app/Printer.h"
#include "platform/Platform.h"
#include "update/CmdLineOptions.h"

constexpr const wchar_t* kProductName = L"Veskora Q740 Firmware Update Utility - Version";
constexpr int kProductVersion[4] = {2, 0, 3, 1};
constexpr uint32_t kTestDelayMs = 60000;

// The program's folder from its module path: everything up to and including the last backslash.
std::wstring ProgramDirectory(const std::wstring& modulePath);
// "dd-mm-yyyy hh:mm:ss" on a 12-hour clock without an AM/PM marker.
std::wstring FormatLogTime(const plat::LocalTime& time);

// Creates the log folder under the local application data folder and points the printer at the log file.
// Returns the program's folder.
std::wstring PrepareLogPath(plat::Platform& platform, CPrinter& printer);

// The repeated-update test waits 60 seconds before it starts; a count given as 0 becomes 0 again.
void WaitTestDelay(plat::Clock& clock, tagCmdLineOptions& options);

// Windows 6.0 and 6.1 always take the XSVF stream.
bool WindowsForcesXsvf(const plat::WindowsVersion& version);

void WriteLogHeader(plat::Clock& clock, CPrinter& printer);

// Switches the log on or off as the options say, hides the cursor and prints the banner.
void PrintBanner(CPrinter& printer, const tagCmdLineOptions& options);

// Where the driver tool and the desktop manager's settings file go.
struct tagTemporaryPaths {
    bool wow64 = false;
    std::wstring tempFolder;
    std::wstring lumoExportPath;
    std::wstring devconPath;
};
tagTemporaryPaths BuildTemporaryPaths(plat::Environment& env);
