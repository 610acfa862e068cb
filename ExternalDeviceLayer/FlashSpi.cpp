#include "ExternalDeviceLayer/FlashSpi.h"

#include <algorithm>
#include <cstring>

namespace flashspi {

namespace {

constexpr uint32_t k4K = 0x1000, k32K = 0x8000;

// clang-format off
const FlashPart kParts[] = {
    // manufacturer, device, any device, size, program, write enable, two status registers, protection mask,
    //   erase, erase bytes, erase waits, program kind, program and erase latch
    {0xBF, 0x49, false, 0x20000,  0xAF, 0x50, false, 0x8C, kSectorErase, k4K,  1, ProgramKind::ByteAai, kWriteEnable},
    {0x10, 0x00, true,  0x20000,  0x02, 0x06, false, 0x8C, 0xD8,         k32K, 2, ProgramKind::Page,    kWriteEnable},
    {0x9D, 0x7C, false, 0x20000,  0x02, 0x06, false, 0x8C, 0xD7,         k4K,  1, ProgramKind::Page,    kWriteEnable},
    {0xEF, 0x16, false, 0x800000, 0x02, 0x06, true,  0x9C, kSectorErase, k4K,  1, ProgramKind::Page,    kWriteEnable},
    {0x9D, 0x11, false, 0x40000,  0x02, 0x06, false, 0x9C, kSectorErase, k4K,  1, ProgramKind::Page,    kWriteEnable},
    {0x9D, 0x12, false, 0x80000,  0x02, 0x06, false, 0x9C, kSectorErase, k4K,  1, ProgramKind::Page,    kWriteEnable},
};
// clang-format on

const uint8_t kMarkerMiddle[8] = {0x00, 0x00, 0x00, 0xBB, 0x11, 0x22, 0x00, 0x44};
const uint8_t kMarkerSync[4] = {0xAA, 0x99, 0x55, 0x66};

bool MarkerAt(const uint8_t* p) {
    for (size_t i = 0; i < 32; ++i)
        if (p[i] != 0xFF)
            return false;
    if (std::memcmp(p + 32, kMarkerMiddle, sizeof kMarkerMiddle) != 0)
        return false;
    for (size_t i = 40; i < 48; ++i)
        if (p[i] != 0xFF)
            return false;
    return std::memcmp(p + 48, kMarkerSync, sizeof kMarkerSync) == 0;
}

} // namespace

size_t FindStartMarker(const uint8_t* data, size_t size) {
    if (size < kStartMarkerSize)
        return size;
    for (size_t at = 0; at + kStartMarkerSize <= size; ++at)
        if (MarkerAt(data + at))
            return at;
    return size;
}

const FlashPart* FlashParts(size_t& count) {
    count = sizeof kParts / sizeof kParts[0];
    return kParts;
}

const FlashPart* FindFlashPart(uint8_t manufacturer, uint8_t device) {
    for (const FlashPart& part : kParts)
        if (part.manufacturer == manufacturer && (part.anyDevice || part.device == device))
            return &part;
    return nullptr;
}

} // namespace flashspi

using namespace flashspi;

namespace {

// Releases the engine however Program or Identify leaves.
class EngineHold {
public:
    explicit EngineHold(CI2cPort& card) : card_(card) {}
    ~EngineHold() {
        if (held_)
            card_.I2cEngineRelease();
    }
    EngineHold(const EngineHold&) = delete;
    EngineHold& operator=(const EngineHold&) = delete;
    bool Acquire() {
        held_ = card_.I2cEngineAcquire() != 0;
        return held_;
    }

private:
    CI2cPort& card_;
    bool held_ = false;
};

} // namespace

bool CFlashSpi::Put(uint32_t slave, uint32_t subAddress, uint8_t value) {
    return card_.I2cWrite(slave, 2, subAddress, 1, &value) != 0;
}

bool CFlashSpi::SetPageMode(uint32_t slave, uint8_t value) {
    return Put(slave, kPageMode, value);
}

bool CFlashSpi::WriteEnable(uint32_t slave, bool enable, uint8_t command) {
    return Put(slave, kFrameControl, kOpen) && Put(slave, kFrameControl, kLastOut) &&
           Put(slave, kDataOut, enable ? command : kWriteDisable);
}

bool CFlashSpi::WriteCommand(uint32_t slave, uint8_t command, const uint8_t* bytes, uint32_t count,
                             uint8_t enableCommand) {
    if (!WriteEnable(slave, true, enableCommand) || !Put(slave, kFrameControl, kOpen) ||
        !Put(slave, kDataOut, command))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (i + 1 == count && !Put(slave, kFrameControl, kLastOut))
            return false;
        if (!Put(slave, kDataOut, bytes[i]))
            return false;
    }
    return Put(slave, kFrameControl, kClose);
}

bool CFlashSpi::ReadCommand(uint32_t slave, uint8_t command, bool addressed, uint32_t address, uint8_t* bytes,
                            uint32_t count) {
    if (!Put(slave, kFrameControl, kOpen) || !Put(slave, kDataOut, command))
        return false;
    if (addressed) {
        for (int shift = 16; shift >= 0; shift -= 8)
            if (!Put(slave, kDataOut, static_cast<uint8_t>(address >> shift)))
                return false;
    }
    if (!Put(slave, kFrameControl, kReceive))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (i + 1 == count && !Put(slave, kFrameControl, kLastIn))
            return false;
        if (!Put(slave, kDataOut, 0))
            return false;
        // A read that fails twice leaves the byte as the caller had it; the command goes on.
        if (!card_.I2cRead(slave, 2, kDataIn, 1, bytes + i))
            card_.I2cRead(slave, 2, kDataIn, 1, bytes + i);
    }
    return Put(slave, kFrameControl, kClose);
}

bool CFlashSpi::ReadStatus(uint32_t slave, uint8_t& value1, uint8_t& value2) {
    value2 = 0;
    if (!ReadCommand(slave, kReadStatus1, false, 0, &value1, 1))
        return false;
    return !twoStatusRegisters_ || ReadCommand(slave, kReadStatus2, false, 0, &value2, 1);
}

void CFlashSpi::WaitReady(uint32_t slave) {
    // Bounded: a part still busy after the last read is not reported; the next step finds out.
    uint8_t status = 0;
    ReadCommand(slave, kReadStatus1, false, 0, &status, 1);
    for (uint32_t reads = 0; reads < kReadyPolls; ++reads) {
        status = 0;
        ReadCommand(slave, kReadStatus1, false, 0, &status, 1);
        if (!(status & 1))
            break;
    }
}

uint8_t CFlashSpi::StatusEnableCommand() const {
    return writeEnableCommand_;
}

uint8_t CFlashSpi::DataEnableCommand() const {
    return part_ ? part_->dataWriteEnable : writeEnableCommand_;
}

bool CFlashSpi::WriteStatus(uint32_t slave, uint8_t value1, uint8_t value2) {
    // A part with two status registers takes both in one command: a one-byte write would write register 1
    // only, so a second one-byte write with value 2 would overwrite register 1 with it.
    const uint8_t values[2] = {value1, value2};
    const bool ok =
        WriteCommand(slave, kWriteStatus, values, twoStatusRegisters_ ? 2u : 1u, StatusEnableCommand());
    WaitReady(slave);
    return ok;
}

bool CFlashSpi::ProgramPage(uint32_t slave, uint32_t address, const uint8_t* source) {
    if (part_ && part_->program == ProgramKind::ByteAai)
        return ProgramBytes(slave, address, source, pageSize_);
    if (!WriteEnable(slave, true, DataEnableCommand()) || !SetPageMode(slave, kPageSend))
        return false;
    frame_[0] = programCommand_;
    frame_[1] = static_cast<uint8_t>(address >> 16);
    frame_[2] = static_cast<uint8_t>(address >> 8);
    frame_[3] = static_cast<uint8_t>(address);
    std::memcpy(frame_ + 4, source, pageSize_);
    for (size_t at = 0; at < kFrameSize; at += kPieceSize) {
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kPieceSize, kFrameSize - at));
        if (!card_.I2cWrite(slave, 2, kDataOut, piece, frame_ + at))
            return false;
    }
    return SetPageMode(slave, kPageSend);
}

// Auto-address-increment: the first frame carries the command, the address and one byte, every later frame
// the command and one byte; the part is ready between bytes; a write disable ends the mode.
bool CFlashSpi::ProgramBytes(uint32_t slave, uint32_t address, const uint8_t* source, uint32_t count) {
    if (!WriteEnable(slave, true, DataEnableCommand()))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!Put(slave, kFrameControl, kOpen) || !Put(slave, kDataOut, programCommand_))
            return false;
        if (i == 0) {
            for (int shift = 16; shift >= 0; shift -= 8)
                if (!Put(slave, kDataOut, static_cast<uint8_t>(address >> shift)))
                    return false;
        }
        if (!Put(slave, kFrameControl, kLastOut) || !Put(slave, kDataOut, source[i]))
            return false;
        WaitReady(slave);
    }
    const bool ok = WriteEnable(slave, false, 0);
    WaitReady(slave);
    return ok;
}

int CFlashSpi::Identify() {
    flashId_ = 0;
    EngineHold engine(card_);
    engine.Acquire();
    for (uint32_t slave : kSlaves)
        SetPageMode(slave, kPageOff);
    uint8_t id[2] = {0, 0};
    ReadCommand(kSlaves[0], kReadId, true, 0, id, 2);
    part_ = FindFlashPart(id[0], id[1]);
    if (!part_)
        return 0;
    flashSize_ = part_->size;
    programCommand_ = part_->programCommand;
    writeEnableCommand_ = part_->writeEnableCommand;
    twoStatusRegisters_ = part_->twoStatusRegisters;
    protectionMask_ = part_->protectionMask;
    flashId_ = static_cast<uint16_t>(id[0] | id[1] << 8);
    flashSizeEighth_ = flashSize_ / 8;
    return 1;
}

bool CFlashSpi::Unprotect() {
    for (size_t i = 0; i < 3; ++i) {
        const uint32_t slave = kSlaves[i];
        uint8_t value1 = 0, value2 = 0;
        ReadStatus(slave, value1, value2);
        kept1_[i] = value1;
        kept2_[i] = value2;
        value1 = static_cast<uint8_t>(value1 & ~0x3Cu);
        // Register 2: the lock bits and the complement bit, which with the block-protect bits clear would
        // protect the whole array.
        if (twoStatusRegisters_)
            value2 = static_cast<uint8_t>(value2 & ~0x79u);
        if (!WriteStatus(slave, value1, value2))
            return false;
    }
    return true;
}

// Each slave's status registers as they were read from it: the three flashes may be protected apart, and
// the last one's protection would unprotect or lock the others against their settings. Each step is tried
// whatever the one before did: the image is in place, and protection is put back where it can be.
void CFlashSpi::Restore() {
    for (size_t i = 0; i < 3; ++i) {
        WriteEnable(kSlaves[i], true, StatusEnableCommand());
        WriteStatus(kSlaves[i], kept1_[i], kept2_[i]);
        WriteEnable(kSlaves[i], false, 0);
    }
}

bool CFlashSpi::Erase(uint32_t slave, uint32_t address) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                              static_cast<uint8_t>(address)};
    return WriteCommand(slave, part_->eraseCommand, bytes, 3, DataEnableCommand());
}

bool CFlashSpi::WriteSector(uint32_t sectorAddress, uint32_t length, const uint8_t* image,
                            uint32_t startAddress, bool slaveBySlave) {
    // A part whose smallest erase is larger than a sector is erased once per block, at its first sector.
    const uint32_t block = sectorAddress / part_->eraseBytes * part_->eraseBytes;
    const bool erase = lastSlave_ < 0 || block != lastErased_;
    if (erase) {
        for (uint32_t slave : kSlaves)
            if (!Erase(slave, block))
                return false;
        lastErased_ = block;
        lastSlave_ = 0;
        for (uint32_t wait = 1; wait < part_->eraseWaits; ++wait)
            for (uint32_t slave : kSlaves)
                WaitReady(slave);
    }
    const uint32_t pages = (length + pageSize_ - 1) / pageSize_;
    for (uint32_t p = 0; p < pages; ++p) {
        const uint32_t pageAddress = sectorAddress + pageSize_ * p;
        const uint8_t* source = image + (pageAddress - startAddress);
        if (p == 0 && slaveBySlave) {
            for (uint32_t slave : kSlaves) {
                WaitReady(slave);
                if (!SetPageMode(slave, kPageOn))
                    return false;
                pageMode_ = true;
                if (!ProgramPage(slave, pageAddress, source))
                    return false;
            }
        } else {
            if (p == 0) {
                for (uint32_t slave : kSlaves) {
                    WaitReady(slave);
                    if (!SetPageMode(slave, kPageOn))
                        return false;
                }
                pageMode_ = true;
            }
            for (uint32_t slave : kSlaves)
                if (!ProgramPage(slave, pageAddress, source))
                    return false;
        }
        for (uint32_t slave : kSlaves) {
            if (!SetPageMode(slave, kPageOff))
                return false;
            WaitReady(slave);
            if (p + 1 != pages && !SetPageMode(slave, kPageOn))
                return false;
        }
    }
    pageMode_ = false;
    return true;
}

// Reads the sector back from every flash: a part that ignored a command, or programmed into old contents,
// shows here instead of in the next power-up.
bool CFlashSpi::Verify(uint32_t sectorAddress, uint32_t length, const uint8_t* source) {
    std::vector<uint8_t> back(length);
    for (uint32_t slave : kSlaves) {
        for (uint32_t i = 0; i < length; ++i)
            back[i] = static_cast<uint8_t>(~source[i]);
        if (!ReadCommand(slave, kRead, true, sectorAddress, back.data(), length))
            return false;
        if (std::memcmp(back.data(), source, length) != 0)
            return false;
    }
    return true;
}

int CFlashSpi::Program(const std::string& path, uint32_t startAddress, CFlashProgress* progress) {
    std::vector<uint8_t> image;
    if (files_.ReadWhole(path, image) != plat::ReadStatus::Ok)
        image.clear();
    if (!Identify())
        return 0;
    const size_t at = FindStartMarker(image.data(), image.size());
    if (at == image.size())
        return 0;
    image.erase(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(at));
    if (image.size() > flashSize_ || startAddress > flashSize_ - image.size())
        return 0; // an image the part cannot hold would wrap onto its first sectors
    const uint32_t imageSize = static_cast<uint32_t>(image.size());
    const uint32_t endAddress = startAddress + imageSize;
    const uint32_t sectors = (imageSize + kSectorSize - 1) / kSectorSize;
    // The last page's bytes beyond the image stay erased.
    image.resize((image.size() + pageSize_ - 1) / pageSize_ * pageSize_, 0xFF);

    EngineHold engine(card_);
    if (!engine.Acquire())
        return 0;
    if (!Unprotect())
        return 0;
    lastSlave_ = -1;
    const bool slaveBySlave = progress && progress->SlaveBySlave();
    uint32_t reported = 0;
    for (uint32_t s = 0; s < sectors; ++s) {
        const uint32_t sectorAddress = startAddress + kSectorSize * s;
        const uint32_t length = std::min(kSectorSize, endAddress - sectorAddress);
        if (!WriteSector(sectorAddress, length, image.data(), startAddress, slaveBySlave))
            return 0;
        if (!Verify(sectorAddress, length, image.data() + (sectorAddress - startAddress)))
            return 0;
        const uint32_t percent =
            static_cast<uint32_t>(static_cast<uint64_t>(sectorAddress - startAddress) * 100 / imageSize);
        if (progress && percent > reported) {
            reported = percent;
            progress->SetPercent(percent);
        }
    }
    Restore();
    return 1;
}
