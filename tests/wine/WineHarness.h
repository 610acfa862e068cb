// Runs the x86_64 Windows build of the program under wine64, each time in a fresh Wine prefix of its own.
// The program's path comes from VSK_WIN64_EXE; without it, or without wine64, the tests skip themselves.
#pragma once

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ProcessRunner.h"

namespace winetest {

inline const char* const kWine = "/usr/lib/wine/wine64";
inline const char* const kWineServer = "/usr/lib/wine/wineserver";

// The path of the program to run, or empty when it is not there.
inline std::string ProgramPath() {
    const char* path = std::getenv("VSK_WIN64_EXE");
    return path != nullptr ? std::string(path) : std::string();
}

// Why the Wine tests cannot run here; empty when they can.
inline std::string SkipReason() {
    std::error_code ec;
    if (!std::filesystem::exists(kWine, ec)) {
        return std::string(kWine) + " is not installed";
    }
    const std::string program = ProgramPath();
    if (program.empty()) {
        return "VSK_WIN64_EXE does not name the x86_64 Windows build of the program";
    }
    if (!std::filesystem::is_regular_file(program, ec)) {
        return "VSK_WIN64_EXE names a missing file: " + program;
    }
    return {};
}

// A stand-in of sim/win, built beside the program in the same build tree.
inline std::string StandInPath(const std::string& name) {
    return (std::filesystem::path(ProgramPath()).parent_path() / "sim" / "win" / name).string();
}

// The native q740sim that makes machine folders, from VSK_Q740SIM; empty when not set.
inline std::string SimulatorPath() {
    const char* path = std::getenv("VSK_Q740SIM");
    return path != nullptr ? std::string(path) : std::string();
}

// How a program under Wine names a host path: drive Z: is the host's root.
inline std::string WindowsPath(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

// Runs the native q740sim's command (the first of `args`, which must not be empty) on the machine folder
// `machine`.
inline testsupport::RunResult Simulate(const std::string& machine, std::vector<std::string> args) {
    args.insert(args.begin(), SimulatorPath());
    args.insert(args.begin() + 2, {"--dir", machine});
    return testsupport::RunProgram(args);
}

// The cards' firmware versions in what `q740sim show` printed, in order, each after a blank.
inline std::string ShownFirmware(const std::string& shown) {
    std::string versions;
    for (size_t at = 0; (at = shown.find("FPGA firmware ", at)) != std::string::npos;) {
        at += 14;
        versions += " " + shown.substr(at, shown.find('\n', at) - at);
    }
    return versions;
}

using Env = std::vector<std::pair<std::string, std::string>>;

// A restart of the prefix: what wineboot printed (the programs RunOnce starts inherit its standard handles,
// so their console text is there) and the exit codes of the programs of one image that it ran, in order.
struct RestartResult {
    testsupport::RunResult boot;
    std::vector<int> exitCodes;
};

// A Wine prefix in a temporary folder: made by the first run, its server stopped and the folder removed
// when the object goes.
class WinePrefix {
public:
    WinePrefix() : prefix_(dir_.Path() + "/prefix") {}
    ~WinePrefix() {
        if (std::filesystem::exists(prefix_)) {
            testsupport::RunProgram({kWineServer, "-k"}, Options("", 30));
        }
    }
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Runs the program with these arguments; `input` is its whole standard input, so key waits end. `env`
    // is added to the environment; VSK_SIM_MACHINE is empty unless it names a machine.
    testsupport::RunResult Run(const std::vector<std::string>& args, const std::string& input = "",
                               const Env& env = {}) {
        KeepServer();
        std::vector<std::string> argv{kWine, program_};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::RunOptions options = Options(input, 180);
        options.env.insert(options.env.end(), env.begin(), env.end());
        return testsupport::RunProgram(argv, options);
    }

    // Runs the program with its standard input fed as the run goes (RunOptions::feed).
    testsupport::RunResult
    RunFed(const std::vector<std::string>& args,
           const std::function<std::string(const std::string& out, bool& close)>& feed) {
        KeepServer();
        std::vector<std::string> argv{kWine, program_};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::RunOptions options = Options("", 180);
        options.feed = feed;
        return testsupport::RunProgram(argv, options);
    }

    // Runs one of Wine's own programs ("reg", "cmd"), or another program by its host path, in the prefix.
    testsupport::RunResult RunTool(const std::vector<std::string>& args, const Env& env = {},
                                   const std::string& input = "", int timeoutSeconds = 120) {
        KeepServer();
        std::vector<std::string> argv{kWine};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::RunOptions options = Options(input, timeoutSeconds);
        options.env.insert(options.env.end(), env.begin(), env.end());
        return testsupport::RunProgram(argv, options);
    }

    // `wineboot --restart`: the pending file moves, then the HKLM RunOnce entries, each program waited for;
    // `input` is what they read. Wine starts every process through a second fork, so the programs are no
    // children of wineboot on the host: while the restart runs this process takes in the orphans, and those
    // whose name starts as `image` does are reaped for their exit codes (waiting for `expected` of them).
    RestartResult Restart(const std::string& image, size_t expected, const std::string& input = "",
                          const Env& env = {}) {
        KeepServer();
        ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
        RestartResult result;
        result.boot = RunTool({"wineboot", "--restart"}, env, input, 600);
        // Wine names a process after its image, cut to the 15 characters a host process name holds.
        const std::string name = image.substr(0, 15);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (result.exitCodes.size() < expected && std::chrono::steady_clock::now() < until) {
            siginfo_t info{};
            if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            std::string comm = testsupport::ReadFileText("/proc/" + std::to_string(info.si_pid) + "/comm");
            int status = 0;
            ::waitpid(info.si_pid, &status, 0);
            if (comm.compare(0, name.size(), name) == 0) {
                result.exitCodes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            }
        }
        ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
        return result;
    }

    // The Windows version the prefix reports ("win10", "win7", ...). A fresh prefix of this Wine reports
    // 6.1, on which the program always plays the XSVF stream.
    bool SetWindowsVersion(const std::string& version) {
        return RunTool({"reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f"})
                   .exitCode == 0;
    }

    // Later runs start this copy of the program (a host path) instead of the build's.
    void UseProgram(const std::string& program) { program_ = program; }

    const std::string& Path() const { return prefix_; }
    std::string DriveC() const { return prefix_ + "/drive_c"; }
    // A folder of the test, outside the prefix, for machines and other inputs.
    const std::string& WorkDir() const { return dir_.Path(); }

    // The user's local application data folder inside the prefix (C:\users\NAME\AppData\Local).
    std::string LocalAppData() const {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(prefix_ + "/drive_c/users", ec)) {
            if (entry.is_directory() && entry.path().filename() != "Public") {
                return entry.path().string() + "/AppData/Local";
            }
        }
        return {};
    }
    // The program's log file.
    std::string LogPath() const { return LocalAppData() + "/Veskora/VskQ740FwUpdater/VskQ740FwUpdater.log"; }

private:
    // Each start of a Wine server is a restart of that Windows: it carries out the file moves scheduled for
    // the restart, and the boot costs seconds. Once the first run has made the prefix, one server is kept
    // for the rest of the test (the destructor stops it; it also ends 30 s after its last process if a test
    // dies), so that the runs follow each other as on one running machine. A first command with its output
    // to /dev/null boots it: the system processes it starts stay with the server, and would otherwise hold
    // the output pipes of the captured run that started them until the server ends.
    void KeepServer() {
        if (serverKept_ || !std::filesystem::exists(prefix_)) {
            return;
        }
        serverKept_ = true;
        const std::string env = "WINEPREFIX='" + prefix_ + "' WINEDEBUG=-all DISPLAY= ";
        const std::string quiet = " </dev/null >/dev/null 2>&1";
        // The set-up server must end first: a second server for the prefix is refused. On a loaded machine
        // it can outlast one wait, and without a kept server every later command would boot the prefix
        // anew, which runs its RunOnce entries as a restart does.
        for (int attempt = 0; attempt < 5; ++attempt) {
            testsupport::RunProgram({kWineServer, "-w"}, Options("", 120));
            if (std::system((env + kWineServer + " -p30" + quiet).c_str()) == 0) {
                std::system((env + kWine + " cmd /c exit" + quiet).c_str());
                return;
            }
        }
        ADD_FAILURE() << "no Wine server could be kept running for " << prefix_;
    }

    testsupport::RunOptions Options(const std::string& input, int timeoutSeconds) const {
        testsupport::RunOptions options;
        options.env = {
            {"WINEPREFIX", prefix_},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml="}, // no runtime installers while making the prefix
            {"DISPLAY", ""},
            {"VSK_SIM_MACHINE", ""}}; // the stand-in service sees no machine unless a test names one
        options.input = input;
        options.workDir = dir_.Path();
        options.timeoutSeconds = timeoutSeconds;
        return options;
    }

    testsupport::TempDir dir_;
    std::string prefix_;
    std::string program_ = ProgramPath();
    bool serverKept_ = false;
};

// Under CI (CI=true) a missing prerequisite of the Wine tier fails it: a tier that skipped every test
// would report success having run nothing.
inline bool MissingPrerequisiteFails() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

} // namespace winetest

// Skips the current test, or fails it under CI, for a prerequisite that is missing.
#define WINE_MISSING(reason)                                                                                 \
    do {                                                                                                     \
        if (winetest::MissingPrerequisiteFails()) {                                                          \
            FAIL() << (reason) << " (CI=true: the Wine tier must run)";                                      \
        }                                                                                                    \
        GTEST_SKIP() << (reason);                                                                            \
    } while (0)

// Skips (or under CI fails) the current test when the Wine tier cannot run on this machine.
#define WINE_SKIP_UNLESS_AVAILABLE()                                                                         \
    do {                                                                                                     \
        const std::string reason = winetest::SkipReason();                                                   \
        if (!reason.empty()) {                                                                               \
            WINE_MISSING(reason);                                                                            \
        }                                                                                                    \
    } while (0)
