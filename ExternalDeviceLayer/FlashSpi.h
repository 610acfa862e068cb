// Writes an FPGA bitstream into the SPI flash behind each of the FPGA's three I2C slaves, through the
// I2C-to-SPI bridge each slave offers. Everything goes through a CI2cPort (the card's engine, or the display
// library's call), one-byte register accesses with a two-byte sub-address:
//
//   0x34 frame control: 0x01 opens a command, 0x21 makes the next byte out its last, 0x11 / 0x31 the same
//        while latching the bytes in, 0x20 ends the command
//   0x35 data out: command, address and data bytes; a 0 clocks each byte in; a page frame as a block
//   0x36 data in: the byte latched by the last byte out
//   0x37 page mode: 0 off, 1 on, 3 sends the page frame written since
//
// The supported parts are rows of one table (FlashParts); each row says how its part erases, programs and
// opens its writes. Not thread-safe: one object per card, used by one worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/I2cPort.h"
#include "platform/FileSystem.h"

namespace flashspi {

// Bridge registers and their values.
constexpr uint32_t kFrameControl = 0x34;
constexpr uint32_t kDataOut = 0x35;
constexpr uint32_t kDataIn = 0x36;
constexpr uint32_t kPageMode = 0x37;
constexpr uint8_t kOpen = 0x01;
constexpr uint8_t kLastOut = 0x21;
constexpr uint8_t kReceive = 0x11;
constexpr uint8_t kLastIn = 0x31;
constexpr uint8_t kClose = 0x20;
constexpr uint8_t kPageOff = 0;
constexpr uint8_t kPageOn = 1;
constexpr uint8_t kPageSend = 3;

// Flash commands.
constexpr uint8_t kReadId = 0x90;
constexpr uint8_t kReadStatus1 = 0x05;
constexpr uint8_t kReadStatus2 = 0x35;
constexpr uint8_t kWriteStatus = 0x01;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kWriteDisable = 0x04;
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kSectorErase = 0x20;

constexpr uint32_t kSlaves[3] = {0xD0, 0xD2, 0xD4};
constexpr uint32_t kSectorSize = 4096;
constexpr uint32_t kPageSize = 256;
constexpr size_t kFrameSize = 4 + kPageSize;
constexpr uint32_t kPieceSize = 64;
constexpr uint32_t kReadyPolls = 2000;

constexpr size_t kStartMarkerSize = 52;
// Where the first complete start marker lies in `data`, or `size` when there is none.
size_t FindStartMarker(const uint8_t* data, size_t size);

// How a part takes a program command.
enum class ProgramKind : uint8_t {
    Page,    // one frame: command, address, 256 data bytes
    ByteAai, // auto-address-increment: command, address, one byte; then command and one byte per frame
};

// One supported part. `anyDevice`: the device byte is not looked at.
struct FlashPart {
    uint8_t manufacturer;
    uint8_t device;
    bool anyDevice;
    uint32_t size;
    uint8_t programCommand;     // what the part table announces as its program command
    uint8_t writeEnableCommand; // ... and as its write enable (opens its status writes)
    bool twoStatusRegisters;
    uint8_t protectionMask;
    // How the part is written where the announced commands would not take (see docs/CHOICES.md).
    uint8_t eraseCommand; // the part's own smallest erase
    uint32_t eraseBytes;  // what it erases
    uint32_t eraseWaits;  // ready waits of kReadyPolls after it (its longest erase time)
    ProgramKind program;
    uint8_t dataWriteEnable; // the latch that opens program and erase
};
const FlashPart* FlashParts(size_t& count);
const FlashPart* FindFlashPart(uint8_t manufacturer, uint8_t device);

} // namespace flashspi

// Where a flash update shows its progress: percent below 100 while it runs.
class CFlashProgress {
public:
    virtual ~CFlashProgress() = default;
    virtual void SetPercent(uint32_t percent) = 0;
    // Wait, page mode and program done on one slave before the next (the display-library route's first
    // adapter), instead of each step on every slave in turn.
    virtual bool SlaveBySlave() const = 0;
};

class CFlashSpi {
public:
    CFlashSpi(CI2cPort& card, plat::FileSystem& files) : card_(card), files_(files) {}
    virtual ~CFlashSpi() = default;
    CFlashSpi(const CFlashSpi&) = delete;
    CFlashSpi& operator=(const CFlashSpi&) = delete;

    // Writes the bitstream file (its data from the start marker on) at `startAddress` into the three
    // flashes and reads every sector back; 1 on success. Progress, when given, rises per sector and never
    // goes back; the caller finishes its job from the result.
    int Program(const std::string& path, uint32_t startAddress, CFlashProgress* progress);
    // Reads the part's ID from slave 0xD0; 1 when it is supported.
    int Identify();

    uint16_t FlashId() const { return flashId_; }
    uint32_t FlashSize() const { return flashSize_; }
    const flashspi::FlashPart* Part() const { return part_; }

    // Bridge commands on one slave (false when a write failed). Public for the tests.
    bool WriteEnable(uint32_t slave, bool enable, uint8_t command);
    bool WriteCommand(uint32_t slave, uint8_t command, const uint8_t* bytes, uint32_t count,
                      uint8_t enableCommand);
    bool ReadCommand(uint32_t slave, uint8_t command, bool addressed, uint32_t address, uint8_t* bytes,
                     uint32_t count);
    bool ReadStatus(uint32_t slave, uint8_t& value1, uint8_t& value2);
    void WaitReady(uint32_t slave);
    bool WriteStatus(uint32_t slave, uint8_t value1, uint8_t value2);
    bool ProgramPage(uint32_t slave, uint32_t address, const uint8_t* source);
    bool SetPageMode(uint32_t slave, uint8_t value);

private:
    bool Put(uint32_t slave, uint32_t subAddress, uint8_t value);
    bool ProgramBytes(uint32_t slave, uint32_t address, const uint8_t* source, uint32_t count);
    bool Unprotect();
    void Restore();
    bool Erase(uint32_t slave, uint32_t sectorAddress);
    bool WriteSector(uint32_t sectorAddress, uint32_t length, const uint8_t* image, uint32_t startAddress,
                     bool slaveBySlave);
    bool Verify(uint32_t sectorAddress, uint32_t length, const uint8_t* source);
    uint8_t StatusEnableCommand() const;
    uint8_t DataEnableCommand() const;

    CI2cPort& card_;
    plat::FileSystem& files_;
    int32_t lastSlave_ = -1;
    uint32_t lastErased_ = 0;
    uint32_t pageSize_ = flashspi::kPageSize;
    uint32_t flashSize_ = 0;
    uint32_t flashSizeEighth_ = 0;
    uint8_t programCommand_ = flashspi::kPageProgram;
    uint8_t writeEnableCommand_ = flashspi::kWriteEnable;
    uint16_t flashId_ = 0;
    bool twoStatusRegisters_ = false;
    uint8_t protectionMask_ = 0x9C;
    bool pageMode_ = false;
    uint8_t frame_[flashspi::kFrameSize] = {};
    const flashspi::FlashPart* part_ = nullptr;
    uint8_t kept1_[3] = {}, kept2_[3] = {}; // each slave's status as read before unprotecting
};
