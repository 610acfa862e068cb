// Arbitrary text as a simulated machine's registry file (registry.txt): the reader never reads outside the
// text, and a tree it reads is written out in a form that reads back as the same tree, so a rewrite after
// any change keeps every other key and value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const sim::RegTree tree = sim::RegistryStore::Parse(text);
    const std::string written = sim::RegistryStore::Format(tree);
    if (sim::RegistryStore::Format(sim::RegistryStore::Parse(written)) != written)
        std::abort();
    return 0;
}
