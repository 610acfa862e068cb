// Feeds arbitrary argument vectors (the input split at NUL bytes) to the option parser and checks what an
// accepted parse must look like.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CmdLine.h"

namespace {

class SilentConsole : public plat::Console {
public:
    void Write(const std::wstring& text) override { out.append(text.size(), '?'); }
    void WriteNarrow(const std::string& text) override { out += text; }
    void SetTextAttribute(uint16_t) override {}
    void SetCursorVisible(bool) override {}
    int ReadKey() override { return -1; }
    bool KeyAvailable() override { return false; }
    uintptr_t Window() override { return 0; }
    void BringToFront(uintptr_t) override {}
    void RemoveCloseFromMenu(uintptr_t) override {}
    void AddControlHandler(std::function<bool(uint32_t)>) override {}
    std::string out;
};

} // namespace

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

    SilentConsole console;
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
