// Arbitrary bytes as the flash image file, written into three simulated flashes behind their bridges:
// a file without a complete start marker is refused before anything is erased; one that the part holds
// is written from its marker on and reads back whole from every flash, with the bytes after it left
// erased; the writer never misuses a bridge or a part.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/FlashSpi.h"
#include "fakes/FakeFileSystem.h"
#include "sim/FpgaImage.h"
#include "sim/SpiBridge.h"
#include "sim/SpiFlash.h"

namespace {

// The card's three slaves, each with its bridge; every transfer succeeds.
class BridgePort : public CI2cPort {
public:
    int I2cRead(uint32_t slave, uint32_t, uint32_t sub, uint32_t count, unsigned char* buffer) override {
        for (uint32_t i = 0; i < count; ++i)
            buffer[i] = Bridge(slave).Read(sub);
        return 1;
    }
    int I2cWrite(uint32_t slave, uint32_t, uint32_t sub, uint32_t count,
                 const unsigned char* buffer) override {
        for (uint32_t i = 0; i < count; ++i) // the data port keeps its pointer
            Bridge(slave).Write(sub == flashspi::kDataOut ? sub : sub + i, buffer[i]);
        return 1;
    }
    int I2cEngineAcquire() override { return 1; }
    int I2cEngineRelease() override { return 1; }

    sim::SpiBridge* bridges[3] = {};

private:
    sim::SpiBridge& Bridge(uint32_t slave) { return *bridges[(slave - 0xD0) / 2 % 3]; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
    if (inputSize < 2 || inputSize > 20000)
        return 0; // a few sectors show every walk; more only costs time
    // An odd first byte puts a start marker into the file, at the offset the second byte gives.
    std::vector<uint8_t> file(input + 2, input + inputSize);
    if (input[0] & 1) {
        const size_t at = input[1] % (file.size() + 1);
        file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), sim::kBitstreamMarker,
                    sim::kBitstreamMarker + sim::kBitstreamMarkerSize);
    }
    const uint8_t* data = file.data();
    const size_t size = file.size();
    sim::SpiFlashSettings settings;
    settings.part = "Pm25LD020";
    std::unique_ptr<sim::SpiFlash> flashes[3];
    std::unique_ptr<sim::SpiBridge> bridges[3];
    BridgePort port;
    for (size_t i = 0; i < 3; ++i) {
        flashes[i] = std::make_unique<sim::SpiFlash>(settings);
        bridges[i] = std::make_unique<sim::SpiBridge>(*flashes[i]);
        port.bridges[i] = bridges[i].get();
    }
    const std::vector<uint8_t> before = flashes[0]->Contents();
    FakeFileSystem files;
    files.SetFile("fw.bit", std::string(reinterpret_cast<const char*>(data), size));

    CFlashSpi flash(port, files);
    const int ok = flash.Program("fw.bit", 0, nullptr);
    const size_t marker = flashspi::FindStartMarker(data, size);
    if (marker == size) {
        if (ok != 0)
            std::abort();
        for (const auto& f : flashes)
            if (f->Contents() != before)
                std::abort(); // nothing may be erased for a file that holds no image
    } else {
        if (ok != 1)
            std::abort();
        const size_t length = size - marker;
        const size_t erasedTo =
            (length + flashspi::kSectorSize - 1) / flashspi::kSectorSize * flashspi::kSectorSize;
        for (const auto& f : flashes) {
            const std::vector<uint8_t>& c = f->Contents();
            if (!std::equal(data + marker, data + size, c.begin()))
                std::abort();
            for (size_t i = length; i < erasedTo; ++i)
                if (c[i] != 0xFF)
                    std::abort();
        }
    }
    for (size_t i = 0; i < 3; ++i)
        if (flashes[i]->Record().Total() != 0 || bridges[i]->Record().Total() != 0)
            std::abort();
    return 0;
}
