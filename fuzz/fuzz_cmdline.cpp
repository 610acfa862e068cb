// Feeds arbitrary argument vectors (the input split at NUL bytes) to the option parser and checks what an
// accepted parse must look like.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CmdLine.h"
#include "fakes/FakeConsole.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"VskQ740FwUpdater.exe"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    FakeConsole console;
    CCmdLine options;
    const CCmdLine::Outcome outcome =
        options.ParseArguments(static_cast<int>(args.size()), argv.data(), console);
    if (outcome == CCmdLine::Outcome::Accepted) {
        // Nothing but the opening blank lines, and an accepted update file ends in "xsvf".
        if (console.out != "\n\n")
            std::abort();
        if (options.flashFile) {
            const size_t len = std::strlen(options.flashFile);
            if (len < 4 || std::strcmp(options.flashFile + len - 4, "xsvf") != 0)
                std::abort();
        }
    }
    return 0;
}
