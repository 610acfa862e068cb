// Arbitrary bytes as a firmware image file, as xsvfgen and the simulated FPGA read it: the sanitizers catch
// any read outside the image; an image that passes the check has its data inside the file, and the same
// data checked on its own (as the FPGA's store holds it) passes with the same version.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sim/FpgaImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::FirmwareVersion version{};
    size_t offset = 0;
    const sim::ImageCheck check = sim::CheckBitstreamFile(data, size, version, offset);
    if (sim::ImageCheckText(check) == nullptr)
        std::abort();
    if (check == sim::ImageCheck::Ok) {
        if (offset >= size)
            std::abort();
        sim::FirmwareVersion stored{};
        if (sim::CheckConfigData(data + offset, size - offset, stored) != sim::ImageCheck::Ok ||
            stored.major != version.major || stored.minor != version.minor || stored.build != version.build)
            std::abort();
    }
    sim::FirmwareVersion direct{};
    (void)sim::CheckConfigData(data, size, direct);
    return 0;
}
