// A simulated machine in a temporary folder for one bench scenario, and runs of the native program on it.
#pragma once

#include <string>
#include <vector>

#include "ProcessRunner.h"

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
    testsupport::RunResult Sim(const std::vector<std::string>& args);

    const std::string& Dir() const { return dir_; }
    // A machine path such as C:\Users\user\... as a host path.
    std::string HostPath(const std::string& windowsPath) const;
    std::string LogText() const;

private:
    testsupport::TempDir temp_;
    std::string dir_;
};
