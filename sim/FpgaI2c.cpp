#include "sim/FpgaI2c.h"

#include <cstdio>
#include <filesystem>

#include "sim/Fpga.h"
#include "sim/SpiFlash.h"

namespace sim {

using namespace fpgai2c;

namespace {

bool AtLeast(const FirmwareVersion& v, const FirmwareVersion& floor) {
    if (v.major != floor.major)
        return v.major > floor.major;
    if (v.minor != floor.minor)
        return v.minor > floor.minor;
    return v.build >= floor.build;
}

// The bridge's data ports keep the pointer, so that a block of bytes goes through one port.
bool DataPort(uint16_t subAddress) {
    return subAddress == bridge::kDataOut || subAddress == bridge::kDataIn;
}

} // namespace

bool FpgaSlave::HasBridge() const {
    return AtLeast(fpga_.RunningVersion(), fpga_.Settings().bridgeFrom);
}

bool FpgaSlave::Start(bool read) {
    if (!fpga_.Configured() || fpga_.Settings().silent[size_t(index_)] || hung_)
        return false;
    if (read) {
        countFirst_ = pointerWritten_ && pointer_ == kVersion;
        pointerWritten_ = false;
    } else {
        pointerBytes_ = 0;
    }
    return true;
}

bool FpgaSlave::Send(uint8_t byte) {
    if (pointerBytes_ < 2) {
        pointer_ = uint16_t(pointerBytes_ == 0 ? byte : pointer_ << 8 | byte);
        ++pointerBytes_;
        pointerWritten_ = true;
        return true;
    }
    WriteRegister(pointer_, byte);
    Advance();
    return true;
}

uint8_t FpgaSlave::Recv() {
    if (countFirst_) {
        countFirst_ = false;
        ++counters_.blockReads;
        return kVersionLength;
    }
    const uint8_t value = ReadRegister(pointer_);
    Advance();
    return value;
}

void FpgaSlave::Stop() {
    pointerBytes_ = 0;
    pointerWritten_ = false;
    countFirst_ = false;
    if (fpga_.Settings().silentAfterUpdate[size_t(index_)])
        WatchForTheUpdatesEnd();
}

// A bridge transaction carries at most one frame, so a program and a status write are told apart by the
// transactions that carried them.
void FpgaSlave::WatchForTheUpdatesEnd() {
    if (!flash_)
        return;
    const SpiFlashCounters& counters = flash_->Counters();
    if (counters.programs != programsSeen_) {
        programsSeen_ = counters.programs;
        programmedSinceStatusWrite_ = true;
    }
    if (counters.statusWrites != statusWritesSeen_) {
        statusWritesSeen_ = counters.statusWrites;
        hung_ = hung_ || programmedSinceStatusWrite_;
        programmedSinceStatusWrite_ = false;
    }
}

void FpgaSlave::Advance() {
    if (!DataPort(pointer_) || !HasBridge())
        ++pointer_;
}

uint8_t FpgaSlave::ReadRegister(uint16_t subAddress) const {
    const FirmwareVersion& v = fpga_.RunningVersion();
    switch (subAddress) {
    case kVersion:
        return v.build;
    case kVersion + 1:
        return v.minor;
    case kVersion + 2:
        return v.major;
    default:
        if (SpiBridge::Handles(subAddress) && HasBridge())
            return bridge_.Read(subAddress);
        return 0;
    }
}

void FpgaSlave::WriteRegister(uint16_t subAddress, uint8_t value) {
    if (SpiBridge::Handles(subAddress) && HasBridge())
        bridge_.Write(subAddress, value);
    else
        ++counters_.ignoredWrites;
}

FpgaI2c::FpgaI2c(I2cBus& bus, const FpgaI2cSettings& settings, const std::array<SpiDevice*, 3>& flashes)
    : bus_(bus), settings_(settings), version_(settings.version) {
    for (size_t i = 0; i < slaves_.size(); ++i) {
        slaves_[i] = std::make_unique<FpgaSlave>(*this, int(i), *flashes[i]);
        bus_.Attach(kSlaveAddresses[i], slaves_[i].get());
    }
}

FpgaI2c::~FpgaI2c() {
    for (uint8_t address : kSlaveAddresses)
        bus_.Attach(address, nullptr);
}

std::string FlashFilePath(const std::string& machineDir, const PciFunction& function, uint8_t slaveAddress) {
    char name[16];
    std::snprintf(name, sizeof name, "flash-%02x.bin", slaveAddress);
    return (std::filesystem::u8path(FpgaFolder(machineDir, function)) / name).u8string();
}

FlashBoot BootFpgaFromFlash(const std::string& machineDir, const PciFunction& function, int index,
                            FirmwareVersion& running, std::string& error) {
    const std::string path = FlashFilePath(machineDir, function, kSlaveAddresses[0]);
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::u8path(path), ec))
        return FlashBoot::Untouched;
    FlashFileContents flash;
    if (!ReadFlashFile(path, flash, error))
        return FlashBoot::Failed;
    if (!ConfigureFpgaFrom(machineDir, function, index, flash.contents.data(), flash.contents.size())) {
        error = "cannot write the running version to " + FpgaFolder(machineDir, function);
        return FlashBoot::Failed;
    }
    FirmwareVersion version;
    running = CheckConfigData(flash.contents.data(), flash.contents.size(), version) == ImageCheck::Ok
                  ? version
                  : FirmwareVersion{};
    return running == FirmwareVersion{} ? FlashBoot::Unconfigured : FlashBoot::Configured;
}

} // namespace sim
