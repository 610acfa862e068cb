// A simulated machine in a temporary folder for one bench scenario, and runs of the native program on it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "sim/Machine.h"

struct ProgramRun {
    testsupport::RunResult raw;
    int exitCode = -1; // the program's full exit code, as the machine recorded it
};

class BenchMachine {
public:
    // Creates the machine with q740sim create and the given options.
    explicit BenchMachine(const std::vector<std::string>& createOptions = {});

    ProgramRun Run(const std::vector<std::string>& args, const std::string& input = "",
                   const std::string& workDir = "");
    // Runs the program with its standard input fed as the run goes (RunOptions::feed).
    ProgramRun RunFed(const std::vector<std::string>& args,
                      const std::function<std::string(const std::string& out, bool& close)>& feed);
    // Runs the program and sends it `signal` (SIGINT: Ctrl+C; SIGHUP: the console closed) once its output
    // holds `when`; its standard input stays open and empty.
    ProgramRun RunSignalled(const std::vector<std::string>& args, const std::string& when, int signal);
    testsupport::RunResult Sim(const std::vector<std::string>& args);
    // A restart with q740sim boot: the RunOnce entries run the native program with this input. `out` holds
    // boot's first line and then what the program printed; the exit code is the last run's, as recorded.
    ProgramRun Boot(const std::string& input = "");
    // The registry as q740sim reg prints it.
    std::string Registry() { return Sim({"reg"}).out; }

    // Changes the machine's description (cards, faults, versions, the Windows side) and writes it back; the
    // processes then start again as the new description says.
    void Edit(const std::function<void(sim::MachineDescription&)>& change);
    // The Q740 cards' sections in bus order.
    std::vector<sim::PciFunction*> Cards(sim::MachineDescription& machine) const;

    // The firmware card `card` runs as "major.minor.build", or "unreadable" / "no machine".
    std::string FpgaVersion(int card) const;

    const std::string& Dir() const { return dir_; }
    // A machine path such as C:\Users\user\... as a host path.
    std::string HostPath(const std::string& windowsPath) const;
    std::string LogText() const;

    // Every file of the machine folder and its bytes, but for the simulator's record of the last run.
    std::map<std::string, std::string> Snapshot() const;

private:
    ProgramRun RunWith(const std::vector<std::string>& args, testsupport::RunOptions options);

    testsupport::TempDir temp_;
    std::string dir_;
};
