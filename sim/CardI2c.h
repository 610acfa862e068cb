// A card's whole I2C side in one object, for the card's register dispatch: the GPU's I2C engine on the
// card's bus, the FPGA's three slaves on that bus, and the flash behind each slave's bridge. The card hands
// the engine's seven registers (Handles) to Read and Write; the display library's model drives Bus()
// directly, as the display driver does. Not thread-safe: used by its card's one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/FpgaI2c.h"
#include "sim/I2cBus.h"
#include "sim/I2cEngine.h"
#include "sim/Machine.h"
#include "sim/SpiFlash.h"
#include "sim/Trace.h"

namespace sim {

struct CardI2cSettings {
    I2cBusSettings bus;
    I2cEngineSettings engine;
    FpgaI2cSettings fpga;
    std::array<SpiFlashSettings, 3> flash; // behind 0xD0, 0xD2, 0xD4
};

// Puts the three flashes' files into the card's folder of the machine (FlashFilePath).
void KeepFlashesInMachine(CardI2cSettings& settings, const std::string& machineDir,
                          const PciFunction& function);

// A card's I2C side as its [pci N] keys describe it (docs/SIMULATOR.md, "The I2C side"):
//   i2c-misread-khz    reads at or above this bus speed come back wrong now and then (0: never)
//   i2c-clock-held     a device holds the bus clock low
//   i2c-never-done     the engine takes a go and never finishes
//   i2c-silent         the FPGA slaves that do not answer: "D2", "D0;D4", ...
//   i2c-silent-after-update  the slaves that stop answering once their flash's protection is put back
//                      after a program (the end of an update)
//   flash-part         the flash part behind all three bridges
//   flash-locked       every flash protected and its status register locked (WP# low)
//   flash-absent       no part fitted behind the bridges: every byte reads 0xFF
// with the FPGA's running version (sim::ReadFpgaVersion) and the flashes' files in the machine folder.
// False with a message naming the card and key on a bad value (that key keeps its default).
bool ReadCardI2cSettings(const PciFunction& function, const std::string& machineDir, int index,
                         CardI2cSettings& settings, std::string& error);

// A machine restart for every Q740 card of `machine`: each kept flash is power-cycled, then the FPGA
// configures itself from the flash behind 0xD0 (sim::BootFpgaFromFlash). False with a message for the
// first card whose flash or running version could not be handled; the others are still restarted.
bool RestartCardFlashes(const std::string& machineDir, const MachineDescription& machine, std::string& error);

class CardI2c {
public:
    explicit CardI2c(const CardI2cSettings& settings);
    CardI2c(const CardI2c&) = delete;
    CardI2c& operator=(const CardI2c&) = delete;

    static bool Handles(uint32_t offset) { return I2cEngine::Handles(offset); }
    uint32_t Read(uint32_t offset) { return engine_.Read(offset); }
    void Write(uint32_t offset, uint32_t value) { engine_.Write(offset, value); }

    // I2C transactions, SPI frames ("spi D0 ...") and misuse go to this trace (null: none).
    void SetTrace(Trace* trace);

    I2cBus& Bus() { return bus_; }
    I2cEngine& Engine() { return engine_; }
    FpgaI2c& Fpga() { return fpga_; }
    SpiFlash& Flash(int index) { return *flashes_[size_t(index)]; }

private:
    static std::array<std::unique_ptr<SpiFlash>, 3> MakeFlashes(const CardI2cSettings& settings);
    static std::array<SpiDevice*, 3> Devices(const std::array<std::unique_ptr<SpiFlash>, 3>& flashes);

    I2cBus bus_;
    std::array<std::unique_ptr<SpiFlash>, 3> flashes_;
    I2cEngine engine_;
    FpgaI2c fpga_;
};

} // namespace sim
