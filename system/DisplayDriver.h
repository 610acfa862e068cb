// The display driver taken off the Q740 cards and put back with the device-console tool the program
// carries (resources DEVCON32 and DEVCON64): the tool written to the temporary folder and held there
// unchangeable for the run, the driver-files query with its marker search, disable and enable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "system/ChildProcesses.h"

constexpr const wchar_t* kQ740DeviceId = L"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2";

// True when a driver-files listing names an installed display driver: one of the texts
// "Windows\INF\oem", "amd" or "ati" anywhere in it (case-sensitive, so also inside ordinary words).
bool HasDriverMarker(const std::string& listing);

class CDisplayDriver {
public:
    // `closeLumo` closes the desktop manager (its close events, then its processes) around a disable.
    CDisplayDriver(plat::Platform& platform, CChildProcesses& children, std::function<void()> closeLumo);

    // Writes the tool for this Windows (the 64-bit one under WOW64) as `toolPath` and holds it there until
    // the run ends, so that nobody can swap it before it is started with the program's rights. Sets tool
    // ready; nothing is printed when it fails.
    void ExtractDevCon(const std::wstring& toolPath, bool wow64);

    // Runs `driverfiles` (no time limit) and searches what the children wrote: sets driver present.
    void QueryDisplayDriver();
    // Closes the desktop manager, runs `disable` (no time limit), closes it again. Exit code 0 sets driver
    // disabled; any other (42 when there is none) sets disable needs restart.
    void DisableDisplayDriver();
    // Runs `enable` (no time limit); its exit code is not examined.
    void EnableDisplayDriver();
    // Lets the tool go (the end of the run).
    void ReleaseTool() { held_.Reset(); }

    bool ToolReady() const { return toolReady_; }
    bool DriverPresent() const { return driverPresent_; }
    bool DriverDisabled() const { return driverDisabled_; }
    bool DisableNeedsRestart() const { return disableNeedsRestart_; }
    std::wstring Command(const wchar_t* verb) const;

private:
    plat::Platform& platform_;
    CChildProcesses& children_;
    std::function<void()> closeLumo_;
    std::wstring toolPath_;
    plat::HeldFile held_;
    bool toolReady_ = false;
    bool driverPresent_ = false;
    bool driverDisabled_ = false;
    bool disableNeedsRestart_ = false;
};
