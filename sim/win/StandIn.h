// What the Windows stand-in programs share: the machine folder named by VSK_SIM_MACHINE (a Windows path;
// under Wine "Z:\tmp\..." reaches the host's /tmp), its description read into the Windows-side models, and
// writing a tool's output to its standard output the way a console program does.
#pragma once

#include <windows.h>

#include <string>

#include "sim/WindowsSide.h"

namespace simwin {

// The machine folder as UTF-8, empty when VSK_SIM_MACHINE is not set.
std::string MachineFolderFromEnvironment();

// The machine's Windows side; without a machine (or with a bad description) the defaults of a machine
// whose description is empty, with no PCI functions.
sim::WindowsSide LoadWindowsSide(const std::string& folder);

// Writes all of `bytes` to standard output. Blocks while a pipe is full, as any writer does, so a reader
// that does not drain the pipe keeps the tool from ending.
void WriteStdout(const std::string& bytes);

// Ends the process with the tool's exit code, or with STILL_ACTIVE (259) when its exit code is not to be
// readable: a caller that takes 259 for "still running" never sees it end.
[[noreturn]] void ExitWith(uint32_t code, bool readable);

} // namespace simwin
