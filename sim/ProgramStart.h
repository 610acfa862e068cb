// How Windows turns a command line into a program to start, and what a program file on the simulated
// machine is. Command lines stay narrow (UTF-8) here, as the rest of the simulator keeps Windows paths.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Win32 errors of a start that fails.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorBadExeFormat = 193;
// What GetExitCodeProcess reports for a process that has not ended (STILL_ACTIVE).
constexpr uint32_t kStillActive = 259;

// The first token of a command line and the rest. Quoted: up to the closing quote (or the end), without the
// quotes; unquoted: up to the first blank or tab. `arguments` starts after the blanks that follow.
struct CommandSplit {
    std::string program;
    std::string arguments;
    bool quoted = false;
};
CommandSplit SplitFirstToken(const std::string& commandLine);

// The argument vector a C runtime program gets from its command line: the program token ends at the first
// blank outside quotes (quotes only group there); later arguments follow the runtime's rules (2n backslashes
// and a quote give n backslashes and toggle quoting, 2n+1 give n and a literal quote, "" inside quotes is a
// literal quote).
std::vector<std::string> SplitArguments(const std::string& commandLine);

// The module CreateProcess starts for a command line given without an application name: a quoted first
// token is the module; an unquoted one is tried at every blank in turn ("C:\Program Files\A B\x y" tries
// "C:\Program", "C:\Program Files\A", "C:\Program Files\A B\x", then the whole line), the first that names an
// existing file wins. ".exe" is added to a candidate whose file name has no extension. A name without a
// folder is looked for in `searchFolders` in order (the program's folder, the current folder, System32,
// the Windows folder, PATH).
struct ResolvedModule {
    uint32_t error = kErrorFileNotFound; // 0 when found
    std::string module;                  // the Windows path of the file to start
    std::string arguments;               // what follows the module's token
};
ResolvedModule ResolveModule(const std::string& commandLine, const std::vector<std::string>& searchFolders,
                             const std::function<bool(const std::string& windowsPath)>& isFile);

// The file name part of a Windows path ("C:\a\b.exe" gives "b.exe").
std::string FileNamePart(const std::string& windowsPath);
// The folder part with its trailing backslash ("C:\a\b.exe" gives "C:\a\"); empty when there is none.
std::string FolderPart(const std::string& windowsPath);

// The programs the simulated machine knows. Their files hold a stand-in image: "MZ", then a tag line
// "VSK-SIM-PROGRAM <name> <detail>\n". The content tells what runs, not the file's name, as on Windows.
enum class ProgramKind { NotAProgram, DriverTool, LumoCmd, LumoCore, LumoStartup };

std::string ProgramImage(ProgramKind kind, const std::string& detail);
ProgramKind IdentifyProgram(const std::string& image, std::string* detail = nullptr);

} // namespace sim
