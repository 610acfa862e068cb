// The stand-in of the device-console tool the program carries as DEVCON32/DEVCON64: the simulator's tool
// model over the device states of the machine in VSK_SIM_MACHINE, with its real argument vector, its output
// written to its standard output (a pipe blocks it while full) and its exit code.
#include <windows.h>

#include <string>
#include <vector>

#include "sim/DisplayDriver.h"
#include "sim/win/StandIn.h"
#include "sim/win/WinText.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        args.push_back(simwin::ToUtf8(argv[i]));
    }
    const std::string folder = simwin::MachineFolderFromEnvironment();
    const sim::WindowsSide side = simwin::LoadWindowsSide(folder);
    std::vector<sim::DisplayDevice> devices = side.devices;
    if (!folder.empty()) {
        sim::LoadDeviceStates(folder, devices);
    }
    const sim::ToolRun run = sim::RunDriverTool(side.driver, devices, side.tool, args);
    if (!run.started) {
        return static_cast<int>(sim::kDevconFail); // the process exists already; it can only fail
    }
    if (!run.changes.empty() && !folder.empty()) {
        sim::ApplyToolRun(run, devices);
        sim::SaveDeviceStates(folder, devices);
    }
    simwin::WriteStdout(run.output);
    simwin::ExitWith(run.exitCode, run.exitCodeReadable);
}
