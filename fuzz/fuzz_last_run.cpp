// Arbitrary bytes as the record of a simulated machine's last run: "last-run.ini" (read as INI text, its
// [run] section) and "last-exit-code" (a decimal number). Both are read by q740sim and the tests after a
// run that may have died while writing them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/Ini.h"
#include "sim/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const sim::IniFile ini = sim::ParseIni(text);
    // Every line is one of: blank or comment, header, key, skipped; a first skipped line is a line.
    if ((ini.skippedLines == 0) != (ini.firstSkippedLine == 0))
        std::abort();
    if (const sim::IniSection* run = ini.FindSection("run")) {
        for (const auto& [key, value] : run->entries) {
            if (key.empty() || key.find('=') != std::string::npos || value.find('\n') != std::string::npos)
                std::abort();
            if (run->Find(key) == nullptr)
                std::abort();
        }
    }
    // What is written reads back with the same sections and keys.
    const std::string written = sim::FormatIni(ini);
    if (sim::FormatIni(sim::ParseIni(written)) != written)
        std::abort();
    // A code that reads is the code RecordRun would write for it.
    uint32_t code = 0, again = 0;
    if (sim::ParseU32(text, code) && (!sim::ParseU32(std::to_string(code) + "\n", again) || again != code))
        std::abort();
    return 0;
}
