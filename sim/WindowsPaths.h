// What makes the machine folder look like Windows to the program: drive letters mapped into the folder, the
// Windows forms of the environment, and the process's own command line as Windows shows it.
#pragma once

#include <string>
#include <vector>

#include "sim/Machine.h"

namespace sim {

// "C:\x\y" (any drive letter, either case) becomes "DIR/C/x/y"; each existing component is matched without
// case, as Windows would, and "." and ".." are resolved without leaving the drive (".." at its root stays
// there). A rooted path without a drive ("\x") is on the system drive, C:. A network or device path
// ("\\server\share", "\\?\C:\x", "\\.\pipe\x") is on no drive of the machine: it maps to "", which
// nothing can open. Any other path is a host path (absolute with "/", or relative to the current folder),
// used as it is with backslashes turned into slashes, so files named on the command line can be read.
std::string MapPath(const std::string& dir, const std::string& windowsPath);

// Whether a mapped path lies inside the machine folder, judged by its text with "." and ".." resolved
// (a relative path against the current folder). Everything that changes files must pass this: host paths
// may be read, never written.
bool InsideMachine(const std::string& dir, const std::string& mappedPath);

// MapPath for a change (create, write, delete, move): "" unless the path maps inside the machine folder.
std::string MapPathForChange(const std::string& dir, const std::string& windowsPath);

// A 32-bit program on 64-bit Windows sees "C:\Windows\SysWOW64" where it names "C:\Windows\System32"
// (file-system redirection); other paths are returned unchanged.
std::string RedirectSystem32(const std::string& windowsPath);

// The environment a program sees on this machine, after the host's: LOCALAPPDATA, TEMP, TMP, USERPROFILE,
// WINDIR, SystemRoot, SystemDrive, programfiles and, on 64-bit Windows only, programfiles(x86); then the
// [env] overrides (an empty value removes the variable).
KeyValues WindowsEnvironment(const MachineDescription& machine);

// Windows folders that exist on a new machine: the environment's folders, C:\Windows\System32 and the
// program's folder.
std::vector<std::string> MachineFolders(const MachineDescription& machine);

// One argument quoted the way the C runtime's parser reads it back: quotes around arguments with blanks or
// that are empty, backslashes doubled only before a quote, embedded quotes escaped.
std::string QuoteArgument(const std::string& argument);
// The program part (commandName, or the quoted program path) followed by the quoted arguments.
std::string BuildCommandLine(const MachineDescription& machine, const std::vector<std::string>& arguments);

} // namespace sim
