// Arbitrary text as a simulated machine's description (machine.ini). It is either refused with a reason or
// read into a machine whose written-out form reads back as the same machine: writing a description that is
// read differently would change the machine behind the user's back at its next rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/Machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::MachineDescription machine;
    std::string error;
    if (!sim::ParseDescription(text, machine, error)) {
        if (error.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    const std::string written = sim::FormatDescription(machine);
    sim::MachineDescription again;
    if (!sim::ParseDescription(written, again, error))
        std::abort();
    if (sim::FormatDescription(again) != written)
        std::abort();
    return 0;
}
