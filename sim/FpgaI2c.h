// The FPGA's three I2C slaves, 0xD0, 0xD2 and 0xD4, as its logic answers them. Each has a 16-bit register
// pointer, the version block and an I2C-to-SPI bridge to its own flash:
//
// - Pointer: addressing a slave for writing starts a new pointer; the first two bytes of the write shift
//   into it (pointer = pointer << 8 | byte), so a write of one byte sets 0x00nn and a write of two sets
//   0xhhll. The bytes after them are data, each to the pointer, which then moves on, except at the bridge's
//   data ports 0x35 and 0x36, where it stays. A read goes on from the pointer.
// - Version block at 0x0004..0x0006: build, minor, major, read only. A read that follows its pointer write
//   with a repeated start is a block read, as SMBus defines it: the slave sends the block's byte count (3)
//   first, then the bytes. A read after a stop sends the bytes alone.
// - Bridge at 0x0034..0x0037 (sim/SpiBridge.h), in logic of version 1.6.13 and later.
// - Everything else reads 0 and ignores writes.
//
// The slaves exist only while the FPGA is configured: an unconfigured FPGA (version 0.0.0) answers no
// address. Not thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/FpgaImage.h"
#include "sim/I2cBus.h"
#include "sim/Machine.h"
#include "sim/SpiBridge.h"

namespace sim {

namespace fpgai2c {

constexpr std::array<uint8_t, 3> kSlaveAddresses = {0xD0, 0xD2, 0xD4};
constexpr uint16_t kVersion = 0x0004; // build, minor, major
constexpr uint8_t kVersionLength = 3;

} // namespace fpgai2c

// The FPGA's I2C side and its fault switches.
struct FpgaI2cSettings {
    FirmwareVersion version{1, 6, 10};    // what the FPGA runs (0.0.0: unconfigured, no slave answers)
    FirmwareVersion bridgeFrom{1, 6, 13}; // logic older than this has no SPI bridges
    std::array<bool, 3> silent{};         // fault: the slave at 0xD0, 0xD2 or 0xD4 does not answer
    // Fault: the slave stops answering once a status write reaches its flash after a program did (an
    // update's last step puts the protection back), so that only a check after the update can see it.
    std::array<bool, 3> silentAfterUpdate{};
};

struct FpgaSlaveCounters {
    uint64_t blockReads = 0;    // reads that began with the block's byte count
    uint64_t ignoredWrites = 0; // data bytes to read-only or unmapped sub-addresses
};

class FpgaI2c;

class FpgaSlave final : public I2cSlave {
public:
    FpgaSlave(const FpgaI2c& fpga, int index, SpiDevice& flash)
        : fpga_(fpga), index_(index), bridge_(flash), flash_(dynamic_cast<const SpiFlash*>(&flash)) {}

    bool Start(bool read) override;
    bool Send(uint8_t byte) override;
    uint8_t Recv() override;
    void Stop() override;

    uint16_t Pointer() const { return pointer_; }
    SpiBridge& Bridge() { return bridge_; }
    const FpgaSlaveCounters& Counters() const { return counters_; }

private:
    bool HasBridge() const;
    uint8_t ReadRegister(uint16_t subAddress) const;
    void WriteRegister(uint16_t subAddress, uint8_t value);
    void Advance();
    void WatchForTheUpdatesEnd();

    const FpgaI2c& fpga_;
    const int index_;
    SpiBridge bridge_;
    const SpiFlash* const flash_; // its counters, for the fault that follows an update
    uint64_t programsSeen_ = 0, statusWritesSeen_ = 0;
    bool programmedSinceStatusWrite_ = false;
    bool hung_ = false;
    uint16_t pointer_ = 0;
    uint32_t pointerBytes_ = 0;   // pointer bytes of the write under way
    bool pointerWritten_ = false; // ... and a pointer byte came since the last stop
    bool countFirst_ = false;     // the read under way is a block read that has not sent its count yet
    FpgaSlaveCounters counters_;
};

class FpgaI2c {
public:
    // Attaches the three slaves to `bus`; `flashes` stand behind their bridges (not owned).
    FpgaI2c(I2cBus& bus, const FpgaI2cSettings& settings, const std::array<SpiDevice*, 3>& flashes);
    ~FpgaI2c();
    FpgaI2c(const FpgaI2c&) = delete;
    FpgaI2c& operator=(const FpgaI2c&) = delete;

    // The FPGA (re)configured: the card calls this when the running version changes.
    void SetRunningVersion(const FirmwareVersion& version) { version_ = version; }
    const FirmwareVersion& RunningVersion() const { return version_; }
    bool Configured() const { return version_ != FirmwareVersion{}; }
    const FpgaI2cSettings& Settings() const { return settings_; }
    FpgaSlave& Slave(int index) { return *slaves_[size_t(index)]; }

private:
    I2cBus& bus_;
    const FpgaI2cSettings settings_;
    FirmwareVersion version_;
    std::array<std::unique_ptr<FpgaSlave>, 3> slaves_;
};

// Where the flash behind a slave keeps its contents: DIR/cards/03-00.0/flash-d0.bin.
std::string FlashFilePath(const std::string& machineDir, const PciFunction& function, uint8_t slaveAddress);

// What a card's FPGA does at power-up with the flash behind 0xD0.
enum class FlashBoot {
    Untouched,    // the flash was never written (no file): it holds the factory image, the FPGA runs on
    Configured,   // it holds a valid image (from address 0, from the start marker on): its version runs
    Unconfigured, // it holds no valid image: the FPGA stays unconfigured (0.0.0)
    Failed,       // the file could not be read or the running version not written
};
// Configures the card's FPGA from its 0xD0 flash as a power-up does; `running` is then the version it
// runs (untouched for Untouched and Failed). `error` says why for Failed.
FlashBoot BootFpgaFromFlash(const std::string& machineDir, const PciFunction& function, int index,
                            FirmwareVersion& running, std::string& error);

} // namespace sim
