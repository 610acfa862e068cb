#include "BenchMachine.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "RunGoldens.h"
#include "sim/Fpga.h"
#include "sim/WindowsSide.h"

BenchMachine::BenchMachine(const std::vector<std::string>& createOptions) : dir_(temp_.Path() + "/machine") {
    std::vector<std::string> args{VSK_Q740SIM, "create", "--dir", dir_};
    args.insert(args.end(), createOptions.begin(), createOptions.end());
    const testsupport::RunResult r = testsupport::RunProgram(args);
    if (r.exitCode != 0)
        throw std::runtime_error("q740sim create failed: " + r.err);
}

ProgramRun BenchMachine::Run(const std::vector<std::string>& args, const std::string& input,
                             const std::string& workDir) {
    testsupport::RunOptions options;
    options.input = input;
    options.workDir = workDir;
    return RunWith(args, options);
}

ProgramRun BenchMachine::RunFed(const std::vector<std::string>& args,
                                const std::function<std::string(const std::string& out, bool& close)>& feed) {
    testsupport::RunOptions options;
    options.feed = feed;
    return RunWith(args, options);
}

ProgramRun BenchMachine::RunSignalled(const std::vector<std::string>& args, const std::string& when,
                                      int signal) {
    testsupport::RunOptions options;
    int pid = 0;
    bool sent = false;
    options.started = [&pid](int child) { pid = child; };
    options.feed = [&](const std::string& out, bool&) {
        if (!sent && pid > 0 && out.find(when) != std::string::npos) {
            sent = true;
            ::kill(pid, signal);
        }
        return std::string();
    };
    return RunWith(args, options);
}

std::map<std::string, std::string> BenchMachine::Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
        const std::string relative = entry.path().string().substr(dir_.size());
        if (entry.is_regular_file() && relative != "/last-exit-code" && relative != "/last-run.ini" &&
            relative != "/record.lock")
            files[relative] = testsupport::ReadFileText(entry.path().string());
    }
    return files;
}

ProgramRun BenchMachine::RunWith(const std::vector<std::string>& args, testsupport::RunOptions options) {
    std::vector<std::string> argv{VSK_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    options.env = {{"VSK_SIM_MACHINE", dir_}};
    ProgramRun run;
    std::remove((dir_ + "/last-exit-code").c_str());
    run.raw = testsupport::RunProgram(argv, options);
    const std::string recorded = testsupport::ReadFileText(dir_ + "/last-exit-code");
    run.exitCode =
        recorded.empty() ? run.raw.exitCode : static_cast<int>(std::strtoul(recorded.c_str(), nullptr, 10));
    return run;
}

std::string BenchMachine::FpgaVersion(int card) const {
    sim::MachineDescription m;
    std::string error;
    if (!sim::LoadMachine(dir_, m, error))
        return "no machine";
    const std::vector<sim::PciFunction*> cards = Cards(m);
    uint8_t major = 0, minor = 0, build = 0;
    if (card < 0 || card >= static_cast<int>(cards.size()) ||
        !sim::ReadFpgaVersion(dir_, *cards[static_cast<size_t>(card)], card, major, minor, build))
        return "unreadable";
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

void BenchMachine::Edit(const std::function<void(sim::MachineDescription&)>& change) {
    sim::MachineDescription machine;
    std::string error;
    if (!sim::LoadMachine(dir_, machine, error))
        throw std::runtime_error("cannot load the machine: " + error);
    change(machine);
    if (!sim::CreateMachine(dir_, machine, error))
        throw std::runtime_error("cannot write the machine: " + error);
    // The machine is switched on again with the new description: its processes start as it says.
    sim::WindowsSide side;
    std::remove((dir_ + "/processes.ini").c_str());
    if (!sim::ReadWindowsSide(machine, side, error) || !sim::InstallWindowsSide(dir_, side, error))
        throw std::runtime_error("cannot install the machine's Windows side: " + error);
}

std::vector<sim::PciFunction*> BenchMachine::Cards(sim::MachineDescription& machine) const {
    std::vector<sim::PciFunction*> cards;
    for (sim::PciFunction& f : machine.pci) {
        if (f.kind == sim::FunctionKind::Q740)
            cards.push_back(&f);
    }
    return cards;
}

testsupport::RunResult BenchMachine::Sim(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VSK_Q740SIM};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--dir", dir_});
    return testsupport::RunProgram(argv);
}

std::string BenchMachine::HostPath(const std::string& windowsPath) const {
    std::string path = dir_ + "/" + windowsPath.substr(0, 1) + windowsPath.substr(2);
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

std::string BenchMachine::LogText() const {
    return testsupport::ReadFileText(
        HostPath("C:\\Users\\user\\AppData\\Local\\Veskora\\VskQ740FwUpdater\\VskQ740FwUpdater.log"));
}

ProgramRun BenchMachine::Boot(const std::string& input) {
    testsupport::RunOptions options;
    options.input = input;
    ProgramRun run;
    std::remove((dir_ + "/last-exit-code").c_str());
    run.raw =
        testsupport::RunProgram({VSK_Q740SIM, "boot", "--program", VSK_PROGRAM, "--dir", dir_}, options);
    const std::string recorded = testsupport::ReadFileText(dir_ + "/last-exit-code");
    run.exitCode =
        recorded.empty() ? run.raw.exitCode : static_cast<int>(std::strtoul(recorded.c_str(), nullptr, 10));
    return run;
}

void bench::ExpectLog(BenchMachine& machine, const std::string& golden) {
    ExpectLog(machine.LogText(), golden);
}
