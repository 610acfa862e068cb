// Runs the x86_64 Windows build of the program under wine64, each time in a fresh Wine prefix of its own.
// The program's path comes from VSK_WIN64_EXE; without it, or without wine64, the tests skip themselves.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
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

    // Runs the program with these arguments; `input` is its whole standard input, so key waits end.
    testsupport::RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<std::string> argv{kWine, ProgramPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::RunProgram(argv, Options(input, 180));
    }

    const std::string& Path() const { return prefix_; }

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

private:
    testsupport::RunOptions Options(const std::string& input, int timeoutSeconds) const {
        testsupport::RunOptions options;
        options.env = {
            {"WINEPREFIX", prefix_},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml="}, // no runtime installers while making the prefix
            {"DISPLAY", ""}};
        options.input = input;
        options.workDir = dir_.Path();
        options.timeoutSeconds = timeoutSeconds;
        return options;
    }

    testsupport::TempDir dir_;
    std::string prefix_;
};

} // namespace winetest

// Skips the current test when the Wine tier cannot run on this machine.
#define WINE_SKIP_UNLESS_AVAILABLE()                                                                         \
    do {                                                                                                     \
        const std::string reason = winetest::SkipReason();                                                   \
        if (!reason.empty()) {                                                                               \
            GTEST_SKIP() << reason;                                                                          \
        }                                                                                                    \
    } while (0)
