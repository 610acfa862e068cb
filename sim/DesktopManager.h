// The maker's desktop manager, Lumoview, on the simulated machine: its programs in the program-files folder,
// its start-up and core processes in each user session (the core holds its session's close event and ends
// when it is set), and its command-line tool, which exports its settings into a file and imports them back.
// Its own settings store is a file under ProgramData; the export writes those bytes unchanged and the
// import takes the file's bytes unchanged, whatever they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Fields.h"
#include "sim/Processes.h"

namespace sim {

constexpr const char* kLumoCoreImage = "Veskora.Lumo.Core.exe";
constexpr const char* kLumoStartupImage = "Veskora.Lumo.Startup.exe";
constexpr const char* kLumoCmdImage = "Veskora.LumoCmd.exe";
constexpr const char* kLumoCloseEventPrefix = "Global\\VskLumoCoreCloseEvent_";
// Where Lumoview keeps its settings.
constexpr const char* kLumoStorePath = "C:\\ProgramData\\Veskora Graphics\\Lumoview\\settings.dat";

enum class ImportOutcome : uint32_t { Ok, Fails, NoExitCode };
enum class Unkillable : uint32_t { None, Core, Startup, Both };
// What the settings store holds on a new machine.
enum class StoreContent : uint32_t { Text, Percent, OddLength, Binary };

// Section [desktop-manager] of the description. Whether it is installed comes from the machine
// (`desktop-manager`), not from here.
struct DesktopManagerSettings {
    bool closeEvent = true;    // "close-event": the core holds its session's close event
    uint32_t closeMs = 300;    // "close-ms": the core ends this long after its close event is set
    bool coreRestarts = false; // "core-restarts": a terminated core comes back once ...
    uint32_t restartMs = 1500; // "restart-ms": ... this long after
    uint32_t unkillable = 0;   // "unkillable": none, core, startup or both refuse termination
    uint32_t exportMs = 1200;  // "export-ms": how long an export takes (virtual time)
    uint32_t importMs = 1500;  // "import-ms"
    uint32_t import = 0;       // "import": ok, fails (exit code 3) or no-exit-code
    uint32_t content = 0;      // "settings": text, percent, odd-length or binary
};
const std::vector<Field<DesktopManagerSettings>>& DesktopManagerFields();

// "C:\Program Files (x86)\Veskora Graphics\Lumoview\" on 64-bit Windows, "C:\Program Files\..." on 32-bit.
std::string LumoFolder(bool os64);
std::string LumoCloseEventName(uint32_t session);
// The bytes of a new machine's settings store: text lines; with "%" characters ("%TEMP%", "100%"); an odd
// number of bytes; or bytes that are no text at all (NUL, 0xFF, lone UTF-8 lead bytes, CR without LF).
std::string InitialStore(StoreContent content);

// Windows paths as the tool sees them: read a whole file, replace a whole file.
class ToolFiles {
public:
    virtual ~ToolFiles() = default;
    virtual bool Read(const std::string& windowsPath, std::string& bytes) = 0;
    virtual bool Write(const std::string& windowsPath, const std::string& bytes) = 0;
};

// The core and start-up processes as they run in `session`; the core's parent is the start-up process.
ProcessEntry LumoCoreProcess(const DesktopManagerSettings& settings, const std::string& folder,
                             uint32_t session, uint32_t parentPid);
ProcessEntry LumoStartupProcess(const DesktopManagerSettings& settings, const std::string& folder,
                                uint32_t session, uint32_t parentPid);
// At logon: the start-up program starts and starts the core. Nothing when not installed.
void StartLumoAtLogon(ProcessTable& table, const DesktopManagerSettings& settings, const std::string& folder,
                      uint32_t session, uint32_t explorerPid, uint64_t nowMs);
// The core started as a program: one core per session; a second one finds the first and ends at once
// (exit code 0). Returns the pid it ran under.
uint32_t StartLumoCore(ProcessTable& table, const DesktopManagerSettings& settings, const std::string& folder,
                       uint32_t session, uint32_t parentPid, uint64_t nowMs);

// One run of "Veskora.LumoCmd.exe"; `arguments` is the command line after the program's token. The file
// is the rest of the line after "/export " or "/import " (quotes around it are dropped), so a path with
// blanks works unquoted.
struct LumoCmdRun {
    std::string output;
    uint32_t exitCode = 0;
    bool exitCodeReadable = true;
    uint32_t runMs = 0;
};
// Exit codes: 0 done, 1 usage, 2 a file that cannot be read or written, 3 the import refused.
LumoCmdRun RunLumoCmd(const DesktopManagerSettings& settings, const std::string& arguments, ToolFiles& files);

} // namespace sim
