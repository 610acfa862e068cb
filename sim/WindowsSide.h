// What the models of the Windows side (display driver and its tool, desktop manager, processes and
// sessions, power) need to know of a machine, read from its description, and what starting a program on
// the machine does. The models themselves take plain structs; this is the one place that reads them from
// the description: the [machine] switches `display-driver` and `desktop-manager`, and the sections
// [display-driver], [desktop-manager], [sessions] and [power].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/DesktopManager.h"
#include "sim/DisplayDriver.h"
#include "sim/Machine.h"
#include "sim/Power.h"
#include "sim/Processes.h"

namespace sim {

struct WindowsSide {
    bool os64 = true;
    ToolMachine tool;
    bool desktopManager = true;
    DisplayDriverSettings driver;
    DesktopManagerSettings lumo;
    SessionSettings sessions;
    PowerSettings power;
    std::vector<DisplayDevice> devices; // every PCI function, all enabled; LoadDeviceStates fills the states
};

// False with a message naming the section and key on a bad value; the value keeps its default.
bool ReadWindowsSide(const MachineDescription& machine, WindowsSide& side, std::string& error);
std::vector<DisplayDevice> DevicesOf(const std::vector<PciFunction>& functions);

// A new machine's Windows side in DIR: the desktop manager's programs (when installed) and the processes
// of a machine just started with its users logged on; the power values of the description.
bool InstallWindowsSide(const std::string& dir, const WindowsSide& side, std::string& error);

// Windows paths on the machine's drives, for the tools.
class MachineFiles final : public ToolFiles {
public:
    explicit MachineFiles(std::string dir) : dir_(std::move(dir)) {}
    bool Read(const std::string& windowsPath, std::string& bytes) override;
    bool Write(const std::string& windowsPath, const std::string& bytes) override;
    bool IsFile(const std::string& windowsPath);

private:
    std::string dir_;
};

// What starting a command line does, as CreateProcess and the program that starts. The driver tool and the
// desktop manager's command-line tool run to their end here (their effects are saved); the core and
// start-up programs join the process table and keep running (`keepsRunning`, `pid`).
struct ChildRun {
    uint32_t startError = 0; // Win32 error; 0 when the program started
    std::string output;      // what it wrote to its standard output and error
    uint32_t exitCode = 0;
    bool exitCodeReadable = true;
    uint32_t runMs = 0; // how long it runs (virtual time)
    bool keepsRunning = false;
    uint32_t pid = 0;
};
ChildRun StartProgram(const std::string& dir, const WindowsSide& side, const std::string& commandLine,
                      const std::string& currentFolder, uint32_t session, uint32_t parentPid, uint64_t nowMs);

// The stand-in images the machine's program files and the program's driver-tool resources hold.
std::string DriverToolImage(bool x64);

} // namespace sim
