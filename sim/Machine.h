// The description of a simulated Windows machine and the folder that holds it. A machine folder contains
// "machine.ini" (this description, human-readable and hand-editable), "registry.txt" (the HKLM tree, see
// Registry.h), the drive folders ("C/...") and the record of the last run ("last-exit-code", "last-run.ini").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/Fields.h"
#include "sim/Ini.h"

namespace sim {

enum class FunctionKind { Q740, Display, Other };

constexpr uint16_t kQ740Vendor = 0x1002;
constexpr uint16_t kQ740Device = 0x6828;
constexpr uint32_t kQ740Subsystem = 0x4D17E6A2;

// One PCI function as the bus reports it.
struct PciFunction {
    uint32_t bus = 0, device = 0, function = 0;
    uint32_t vendorId = 0, deviceId = 0;
    uint32_t subsystem = 0; // configuration dword 0x2C: subsystem ID << 16 | subsystem vendor ID
    uint32_t revision = 0;
    uint32_t classCode = 0;         // base class, subclass, programming interface (0x030000 = display)
    std::array<uint32_t, 6> bars{}; // raw BAR dwords 0x10..0x24 as configuration space holds them
    bool mapFails = false;          // mapping this function's register window fails
    std::string tracePath;          // "trace": the card's register and JTAG trace file (Windows or host path)
    FunctionKind kind = FunctionKind::Other;
    // Keys of this section that the description itself does not know: the card models' own keys, which each
    // model reads through its table of fields (sim/Fields.h). Kept as they are.
    KeyValues extra;

    // The handle of the hardware-access service: bus << 8 | device << 3 | function.
    uint32_t Handle() const { return (bus & 0xFF) << 8 | (device & 0x1F) << 3 | (function & 7); }
    // The register window the program maps: BAR2/BAR3 when BAR0 is a 64-bit memory BAR, else BAR1.
    uint64_t RegisterWindow() const;
    // Places the register window: with bar0Is64 BAR0/1 are a 64-bit frame buffer and BAR2/3 the 64-bit
    // window (may lie above 4 GB); otherwise BAR0 is a 32-bit frame buffer and BAR1 the 32-bit window.
    void SetRegisterWindow(uint64_t address, bool bar0Is64);
    // The first 256 bytes of configuration space built from the fields above.
    std::array<uint8_t, 256> ConfigSpace() const;
    std::string Location() const; // "03:00.0"
};

struct MachineDescription {
    uint32_t windowsMajor = 10, windowsMinor = 0;
    bool os64 = true;
    uint32_t processorMhz = 3000;
    std::string programPath = "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe";
    // How the program appears at the start of its own command line; empty: the program path (quoted when
    // it holds blanks). "VskQ740FwUpdater" models a start by bare name from its own folder.
    std::string commandName;
    bool virtualClock = false;
    bool displayDriverInstalled = true;
    bool desktopManagerInstalled = true;
    bool hwServiceInstalled = false;
    // Fault switches of the service install: files held open by someone else ("locked-files", paths
    // separated by ';'), restart-time moves that cannot be scheduled ("restart-moves = fail"), exports of
    // the hardware-access library that do not resolve ("hw-service-missing", names separated by ';').
    std::string lockedFiles;
    bool restartMovesFail = false;
    std::string hwServiceMissing;
    // The display library (sim/DisplayLibrary.h): installed in the system folders, and its fault switches:
    // entry points it lacks ("adl-missing", names separated by ';'), I2C calls that fail before the first
    // one goes through ("adl-fails"), context creation failing with the first call or both ("adl-create-
    // fails"), adapter records per card ("adl-records").
    bool displayLibrary = false;
    std::string adlMissing;
    uint32_t adlFailures = 0;
    uint32_t adlCreateFails = 0; // 0: none, 1: the first call, 2: both
    uint32_t adlRecords = 2;
    KeyValues env; // [env]: overrides of the Windows environment; an empty value removes the variable
    std::vector<PciFunction> pci;          // in bus order
    KeyValues machineExtra;                // other keys of [machine]: the machine-wide models' own keys
    std::vector<IniSection> extraSections; // unknown sections, kept verbatim
};

// The keys of the [machine] section, with the `q740sim create` options that set them.
const std::vector<Field<MachineDescription>>& MachineFields();

// Windows 10.0, 64-bit, a host bridge, an on-board display adapter, and `cards` Q740 cards at buses 0x03,
// 0x04, ... (device 0, function 0), each with its audio function 1; driver and desktop manager installed,
// hardware-access service not installed.
MachineDescription DefaultMachine(int cards = 2);
// A Q740 card at bus:00.0 with its register window at `registerWindow`.
PciFunction Q740Card(uint32_t bus, uint64_t registerWindow, bool bar0Is64 = true);
// The audio function 1 of the card at `bus`.
PciFunction Q740Audio(uint32_t bus);

std::string FormatDescription(const MachineDescription& machine);
// False with a message naming the section and key on a bad value of a known key; unknown keys are kept.
bool ParseDescription(const std::string& text, MachineDescription& machine, std::string& error);

// The machine folder: $VSK_SIM_MACHINE, else ".q740-sim" in the current folder.
std::string DefaultMachineDir();
std::string DescriptionPath(const std::string& dir);
bool MachineExists(const std::string& dir);
// Writes the description and creates the folders the machine's environment names. Existing registry and
// files are kept, so this also rewrites the description of an existing machine.
bool CreateMachine(const std::string& dir, const MachineDescription& machine, std::string& error);
bool LoadMachine(const std::string& dir, MachineDescription& machine, std::string& error);

// Record of the last run, for tests: the full exit code (Linux keeps only its low 8 bits) and counters.
bool RecordRun(const std::string& dir, uint32_t exitCode, const KeyValues& counters);
bool ReadLastExitCode(const std::string& dir, uint32_t& code);
// The counters of the last run ("bring-to-front", "close-removed", ...); empty when none was recorded.
KeyValues ReadRunRecord(const std::string& dir);

} // namespace sim
