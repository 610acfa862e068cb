// What a simulated machine needs for the hardware-access service beyond its description: the stand-in
// payloads the program installs, the folders they go to, and carrying out restart-time file moves.
#pragma once

#include <string>

#include "sim/Machine.h"

namespace plat::simbackend {

// Writes the five payloads into DIR/resources (each a short text image followed by its length as 4
// little-endian bytes) and the two driver tools the program carries, creates C:\Windows\System32\drivers,
// and installs the Windows side the description names: the desktop manager's programs, and the system's and
// the desktop manager's processes of a machine that has just been switched on. Run when a machine is created.
bool PrepareMachineFiles(const std::string& dir, const sim::MachineDescription& machine, std::string& error);

// Carries out PendingFileRenameOperations as Windows does at start-up: each pair in order, a delete when
// the target is empty, a move (replacing the target) otherwise; then removes the value. A pair that cannot
// be carried out is skipped and reported, one line each, in `failures`. False when the registry cannot be
// written.
bool RunRestartMoves(const std::string& dir, int& done, std::string& failures);

} // namespace plat::simbackend
