#include "sim/CardI2c.h"

#include <cstdio>

namespace sim {

void KeepFlashesInMachine(CardI2cSettings& settings, const std::string& machineDir,
                          const PciFunction& function) {
    for (size_t i = 0; i < settings.flash.size(); ++i)
        settings.flash[i].file = FlashFilePath(machineDir, function, fpgai2c::kSlaveAddresses[i]);
}

std::array<std::unique_ptr<SpiFlash>, 3> CardI2c::MakeFlashes(const CardI2cSettings& settings) {
    std::array<std::unique_ptr<SpiFlash>, 3> flashes;
    for (size_t i = 0; i < flashes.size(); ++i)
        flashes[i] = std::make_unique<SpiFlash>(settings.flash[i]);
    return flashes;
}

std::array<SpiDevice*, 3> CardI2c::Devices(const std::array<std::unique_ptr<SpiFlash>, 3>& flashes) {
    return {flashes[0].get(), flashes[1].get(), flashes[2].get()};
}

CardI2c::CardI2c(const CardI2cSettings& settings)
    : bus_(settings.bus), flashes_(MakeFlashes(settings)), engine_(bus_, settings.engine),
      fpga_(bus_, settings.fpga, Devices(flashes_)) {}

void CardI2c::SetTrace(Trace* trace) {
    bus_.SetTrace(trace);
    engine_.SetTrace(trace);
    for (size_t i = 0; i < flashes_.size(); ++i) {
        char name[4];
        std::snprintf(name, sizeof name, "%02X", fpgai2c::kSlaveAddresses[i]);
        flashes_[i]->SetTrace(trace, name);
        fpga_.Slave(int(i)).Bridge().SetTrace(trace);
    }
}

} // namespace sim
