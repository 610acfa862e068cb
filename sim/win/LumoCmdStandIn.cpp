// The stand-in "Veskora.LumoCmd.exe": "/export FILE" writes the desktop manager's settings store into FILE,
// "/import FILE" takes FILE's bytes back into the store, both through the simulator's model. The store is a
// real file of this Windows (C:\ProgramData\Veskora Graphics\Lumoview\settings.dat); the faults and the run
// times come from the machine in VSK_SIM_MACHINE, when one is named.
#include <windows.h>

#include <string>

#include "sim/DesktopManager.h"
#include "sim/Files.h"
#include "sim/ProgramStart.h"
#include "sim/win/StandIn.h"
#include "sim/win/WinText.h"

namespace {

class RealFiles final : public sim::ToolFiles {
public:
    bool Read(const std::string& path, std::string& bytes) override { return sim::ReadFile(path, bytes); }
    bool Write(const std::string& path, const std::string& bytes) override {
        const std::string folder = sim::FolderPart(path);
        if (!folder.empty() && !sim::IsDirectory(folder.substr(0, folder.size() - 1))) {
            sim::MakeDirectories(folder.substr(0, folder.size() - 1));
        }
        return sim::WriteFileAtomic(path, bytes);
    }
};

} // namespace

int wmain() {
    const sim::WindowsSide side = simwin::LoadWindowsSide(simwin::MachineFolderFromEnvironment());
    const std::string arguments = sim::SplitFirstToken(simwin::ToUtf8(::GetCommandLineW())).arguments;
    RealFiles files;
    const sim::LumoCmdRun run = sim::RunLumoCmd(side.lumo, arguments, files);
    ::Sleep(run.runMs);
    simwin::WriteStdout(run.output);
    simwin::ExitWith(run.exitCode, run.exitCodeReadable);
}
