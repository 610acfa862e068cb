#include "tools/q740sim/Probe.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "sim/Text.h"

namespace {

void Line(plat::Console& console, const std::string& text) {
    console.WriteNarrow(text + "\n");
}

} // namespace

// The machine folder comes from VSK_SIM_MACHINE (q740sim sets it from --dir).
int RunProbe(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "q740sim: probe wants info, keys, write, ctrl, sleep MS or exit CODE\n");
        return 2;
    }
    std::unique_ptr<plat::Platform> platform = plat::CreatePlatform();
    plat::Console& console = *platform->console;
    plat::Environment& env = *platform->env;
    const std::string& what = args[0];
    if (what == "info") {
        const plat::WindowsVersion version = env.Version();
        Line(console, "module: " + env.ToNarrow(env.ModulePath()));
        Line(console, "command line: " + env.ToNarrow(env.CommandLine()));
        Line(console, "temp: " + env.ToNarrow(env.TempPath()));
        Line(console, "windows: " + std::to_string(version.major) + "." + std::to_string(version.minor) +
                          " wow64 " + std::to_string(env.IsWow64Process()) + " 64-bit " +
                          std::to_string(env.Is64BitWindows()));
        for (size_t i = 1; i < args.size(); ++i)
            Line(console, "expand: " + env.ToNarrow(env.Expand(env.ToWide(args[i]))));
        return 0;
    }
    if (what == "keys") {
        // Whether a key waits, then every key to the end of input and one more read after it.
        Line(console, "available " + std::to_string(console.KeyAvailable()));
        int key = 0;
        while ((key = console.ReadKey()) >= 0)
            Line(console, std::to_string(key));
        Line(console, "end " + std::to_string(key) + " " + std::to_string(console.ReadKey()) + " available " +
                          std::to_string(console.KeyAvailable()));
        return 0;
    }
    if (what == "write") {
        // Wide and narrow text interleaved, with colour changes between them.
        console.SetCursorVisible(false);
        console.Write(L"wide \x00E9");
        console.WriteNarrow(" narrow\a");
        console.SetTextAttribute(12);
        console.Write(L" red");
        console.SetTextAttribute(7);
        console.WriteNarrow("\n");
        console.SetCursorVisible(true);
        return 0;
    }
    if (what == "ctrl") {
        // Two handlers, the later one declining: Ctrl+C reaches both, later first; the close event ends the
        // process after the handlers, whatever they answer.
        std::atomic<int> calls{0};
        console.AddControlHandler([&console, &calls](uint32_t event) {
            Line(console, "first " + std::to_string(event));
            ++calls;
            return true;
        });
        console.AddControlHandler([&console](uint32_t event) {
            Line(console, "second " + std::to_string(event));
            return false;
        });
        for (int signal : {SIGINT, SIGTERM}) {
            const int before = calls;
            ::raise(signal);
            for (int i = 0; i < 500 && calls == before; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        Line(console, "still running");
        return 0;
    }
    uint32_t number = 0;
    if (args.size() == 2 && sim::ParseU32(args[1], number)) {
        if (what == "sleep") {
            const uint64_t before = platform->clock->ProcessMilliseconds();
            platform->clock->SleepMs(number);
            const uint64_t slept = platform->clock->ProcessMilliseconds() - before;
            Line(console, "slept " + std::string(slept >= number ? "enough" : "too little"));
            return 0;
        }
        if (what == "exit")
            platform->processes->Exit(static_cast<int>(number));
    }
    std::fprintf(stderr, "q740sim: bad probe %s\n", what.c_str());
    return 2;
}
