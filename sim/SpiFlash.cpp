#include "sim/SpiFlash.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sim {

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kBusy = 0x01, kWel = 0x02, kAai = 0x40;
constexpr uint32_t kPageSize = 256;
constexpr uint32_t kAddressBytes = 3;

// Winbond status bits.
constexpr uint8_t kTb = 0x20, kSec = 0x40, kSrp0 = 0x80; // register 1
constexpr uint8_t kSrp1 = 0x01, kQe = 0x02, kCmp = 0x40; // register 2
constexpr uint32_t kSecUnit = 0x1000, kSecLargest = 0x8000;

// The file: a 32-byte header, then the contents.
//   0  "VSKSPIF1"       8  manufacturer, device    12  size (little-endian)
//   16 kept status 1, 2; status 1, 2 now             20  flags: 1 latch set, 2 in AAI mode
//   24 AAI address (little-endian)                   28  zero
constexpr char kMagic[8] = {'V', 'S', 'K', 'S', 'P', 'I', 'F', '1'};
constexpr size_t kHeaderSize = 32;
constexpr uint8_t kFlagLatch = 1, kFlagAai = 2;

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// In one read: a flash file is megabytes.
bool ReadBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(fs::u8path(path), std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    bytes.resize(size_t(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
    return bool(in);
}

// Checks a flash file's header and size against a part (null: any part).
bool CheckFile(const std::vector<uint8_t>& bytes, const FlashPart* part, std::string& error) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        error = "not a flash file";
        return false;
    }
    const uint32_t size = Le32(&bytes[12]);
    if (bytes.size() != kHeaderSize + size) {
        error = "the flash file is cut short or too long";
        return false;
    }
    if (part && (bytes[8] != part->manufacturer || bytes[9] != part->device || size != part->size)) {
        char text[96];
        std::snprintf(text, sizeof text, "the flash file holds part %02X %02X of %u bytes, not %s", bytes[8],
                      bytes[9], size, part->name);
        error = text;
        return false;
    }
    return true;
}

// Header and contents as one new file.
bool WriteWhole(const fs::path& path, const std::array<uint8_t, kHeaderSize>& header,
                const std::vector<uint8_t>& contents) {
    std::error_code ec;
    if (path.has_parent_path())
        fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    out.write(reinterpret_cast<const char*>(contents.data()), std::streamsize(contents.size()));
    out.close();
    return !out.fail();
}

const FlashPart& PartOf(const SpiFlashSettings& settings) {
    const FlashPart* part = FindFlashPart(settings.part);
    return part ? *part : DefaultFlashPart();
}

} // namespace

const char* SpiFlashMisuseName(SpiFlashMisuse kind) {
    switch (kind) {
    case SpiFlashMisuse::NotSelected:
        return "not-selected";
    case SpiFlashMisuse::CommandWhileBusy:
        return "command-while-busy";
    case SpiFlashMisuse::NoWriteEnable:
        return "no-write-enable";
    case SpiFlashMisuse::Protected:
        return "protected";
    case SpiFlashMisuse::StatusLocked:
        return "status-locked";
    case SpiFlashMisuse::StatusWriteNotArmed:
        return "status-write-not-armed";
    case SpiFlashMisuse::FrameCutShort:
        return "frame-cut-short";
    case SpiFlashMisuse::FrameTooLong:
        return "frame-too-long";
    case SpiFlashMisuse::UnknownCommand:
        return "unknown-command";
    case SpiFlashMisuse::AaiOnly:
        return "aai-only";
    }
    return "?";
}

bool CheckSpiFlashSettings(const SpiFlashSettings& settings, std::string& error) {
    if (FindFlashPart(settings.part))
        return true;
    error = "unknown flash part \"" + settings.part + "\"";
    return false;
}

SpiFlash::SpiFlash(const SpiFlashSettings& settings) : SpiFlash(PartOf(settings), settings) {}

SpiFlash::SpiFlash(const FlashPart& part, const SpiFlashSettings& settings)
    : part_(part), settings_(settings), name_(part.name) {}

SpiFlash::~SpiFlash() = default;

void SpiFlash::SetTrace(Trace* trace, const std::string& name) {
    trace_ = trace;
    name_ = name;
}

// ---- State, power and files ----

// The contents and state come from the file, or are a new part's, when first needed: a card whose flash
// is never used reads no file.
void SpiFlash::Ensure() {
    if (loaded_)
        return;
    loaded_ = true;
    std::vector<uint8_t> bytes;
    if (!settings_.file.empty() && ReadBytes(settings_.file, bytes)) {
        std::string error;
        if (ApplyFile(bytes, error)) {
            fileWhole_ = false;
            written_ = HeaderBytes();
            return;
        }
        fileNote_ = error + ": the part starts as a new one";
    }
    Fresh();
}

// A new part: the factory image from address 0, the rest erased, status at its power-up value.
void SpiFlash::Fresh() {
    memory_.assign(part_.size, 0xFF);
    if (settings_.factoryImageBytes != 0) {
        const std::vector<uint8_t> image = MakeFirmwareFile(
            settings_.factoryVersion, std::min<size_t>(settings_.factoryImageBytes, part_.size));
        size_t at = 0;
        if (FindBitstreamMarker(image.data(), image.size(), at))
            std::copy_n(image.begin() + long(at), std::min<size_t>(image.size() - at, part_.size),
                        memory_.begin());
    }
    kept_ = {0, 0};
    status_ = kept_;
    if (part_.statusVolatile)
        status_[0] = part_.powerUp1;
    wel_ = aai_ = armed_ = false;
    PowerUpFaults();
    fileWhole_ = true;
    written_ = HeaderBytes(); // nothing to write until something changes
}

void SpiFlash::PowerUpFaults() {
    if (!settings_.protectAtPowerUp)
        return;
    status_[0] |= part_.bpMask | part_.lockBit;
    if (!part_.statusVolatile)
        kept_[0] = status_[0];
}

void SpiFlash::PowerCycle() {
    Ensure();
    selected_ = false;
    busyPolls_ = 0;
    busyForever_ = false;
    latchClearPending_ = false;
    wel_ = aai_ = armed_ = false;
    // Winbond's power-supply lock-down (SRP1 = 1, SRP0 = 0) ends with the power.
    if (part_.family == FlashFamily::Winbond && (kept_[1] & kSrp1) && !(kept_[0] & kSrp0))
        kept_[1] &= uint8_t(~kSrp1);
    status_ = kept_;
    if (part_.statusVolatile)
        status_ = {part_.powerUp1, 0};
    PowerUpFaults();
    Persist();
}

std::array<uint8_t, 32> SpiFlash::HeaderBytes() const {
    std::array<uint8_t, kHeaderSize> h{};
    std::memcpy(h.data(), kMagic, sizeof kMagic);
    h[8] = part_.manufacturer;
    h[9] = part_.device;
    PutLe32(&h[12], part_.size);
    h[16] = kept_[0];
    h[17] = kept_[1];
    h[18] = status_[0];
    h[19] = status_[1];
    h[20] = uint8_t((wel_ ? kFlagLatch : 0) | (aai_ ? kFlagAai : 0));
    PutLe32(&h[24], aaiAddress_);
    return h;
}

bool SpiFlash::ApplyFile(const std::vector<uint8_t>& bytes, std::string& error) {
    if (!CheckFile(bytes, &part_, error))
        return false;
    kept_ = {bytes[16], bytes[17]};
    status_ = {bytes[18], bytes[19]};
    wel_ = (bytes[20] & kFlagLatch) != 0;
    aai_ = (bytes[20] & kFlagAai) != 0;
    aaiAddress_ = Le32(&bytes[24]) % part_.size;
    memory_.assign(bytes.begin() + kHeaderSize, bytes.end());
    busyPolls_ = 0; // the time it would have taken has passed
    busyForever_ = false;
    return true;
}

bool SpiFlash::Save(const std::string& path) {
    Ensure();
    const std::array<uint8_t, kHeaderSize> header = HeaderBytes();
    const fs::path target = fs::u8path(path);
    fs::path temp = target;
    temp += ".tmp";
    std::error_code ec;
    if (!WriteWhole(temp, header, memory_)) {
        fs::remove(temp, ec);
        return false;
    }
    // The settings' own file is replaced: the handle to the old one must go, and the new one is current.
    const bool own = !settings_.file.empty() && fs::u8path(settings_.file) == target;
    if (own)
        file_.close();
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    if (own) {
        fileWhole_ = false;
        written_ = header;
        dirtyStart_ = dirtyEnd_ = 0;
    }
    return true;
}

bool SpiFlash::Load(const std::string& path, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(path, bytes)) {
        error = "cannot read " + path;
        return false;
    }
    if (!ApplyFile(bytes, error))
        return false;
    loaded_ = true;
    fileWhole_ = true; // the settings' file, if any, now differs everywhere
    Persist();
    return true;
}

const std::string& SpiFlash::FileNote() {
    Ensure();
    return fileNote_;
}

void SpiFlash::MarkDirty(uint32_t start, uint32_t length) {
    if (dirtyStart_ == dirtyEnd_) {
        dirtyStart_ = start;
        dirtyEnd_ = start + length;
    } else {
        dirtyStart_ = std::min(dirtyStart_, start);
        dirtyEnd_ = std::max(dirtyEnd_, start + length);
    }
}

// Writes what changed to the file: the header when the state changed, the contents where they changed;
// the whole file the first time. Write errors are counted, never fatal.
void SpiFlash::Persist() {
    if (settings_.file.empty()) {
        dirtyStart_ = dirtyEnd_ = 0;
        return;
    }
    const std::array<uint8_t, kHeaderSize> header = HeaderBytes();
    const bool headerChanged = header != written_;
    if (!headerChanged && dirtyStart_ == dirtyEnd_)
        return;
    const fs::path path = fs::u8path(settings_.file);
    if (fileWhole_) {
        file_.close();
        if (!WriteWhole(path, header, memory_)) {
            ++counters_.fileErrors;
            return;
        }
        fileWhole_ = false;
    } else {
        if (!file_.is_open())
            file_.open(path, std::ios::binary | std::ios::in | std::ios::out);
        if (headerChanged) {
            file_.seekp(0);
            file_.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
        }
        if (dirtyStart_ != dirtyEnd_) {
            file_.seekp(std::streamoff(kHeaderSize + dirtyStart_));
            file_.write(reinterpret_cast<const char*>(memory_.data() + dirtyStart_),
                        std::streamsize(dirtyEnd_ - dirtyStart_));
        }
        file_.flush();
        if (!file_) {
            ++counters_.fileErrors;
            file_.close();
            file_.clear();
            fileWhole_ = true; // try the whole file next time
            return;
        }
    }
    ++counters_.fileWrites;
    written_ = header;
    dirtyStart_ = dirtyEnd_ = 0;
}

const std::vector<uint8_t>& SpiFlash::Contents() {
    Ensure();
    return memory_;
}

uint8_t SpiFlash::Status(int index) {
    Ensure();
    return index == 0 ? Status1() : status_[1];
}

bool SpiFlash::Protected(uint32_t address, uint32_t length) {
    Ensure();
    return ProtectedNow(address, length);
}

// ---- Frames ----

void SpiFlash::Select() {
    if (settings_.absent)
        return;
    Ensure();
    selected_ = true;
    position_ = 0;
}

uint8_t SpiFlash::Transfer(uint8_t mosi) {
    if (settings_.absent)
        return 0xFF; // the data line floats high
    if (!selected_) {
        record_.Note(SpiFlashMisuse::NotSelected, "not-selected", "byte 0x%02X", mosi);
        return 0xFF;
    }
    const uint32_t at = position_++;
    if (at == 0) {
        Begin(mosi);
        return 0xFF;
    }
    switch (command_) {
    case Command::ReadStatus1:
        return Output(StatusPoll());
    case Command::ReadStatus2:
        return Output(status_[1]);
    case Command::Jedec:
        return Output(part_.jedec[(at - 1) % 3]);
    case Command::ReadId:
    case Command::ReadIdAb:
    case Command::Read:
        if (at <= kAddressBytes) {
            address_ = address_ << 8 | mosi;
            return 0xFF;
        }
        if (command_ == Command::Read)
            return Output(memory_[(address_ + (at - 1 - kAddressBytes)) % part_.size]);
        if (command_ == Command::ReadIdAb && part_.ab == FlashIdAb::DeviceOnly)
            return Output(part_.device);
        return Output(IdByte((at - 1 - kAddressBytes) + (address_ & 1)));
    case Command::Refused:
    case Command::Unknown:
        return 0xFF; // nobody drives the data line: it reads high
    default:
        break;
    }
    // Commands that take bytes: the address first, then data.
    if (at <= addressBytes_) {
        address_ = address_ << 8 | mosi;
    } else {
        if (command_ == Command::PageProgram)
            latch_[(address_ + dataCount_) % kPageSize] = mosi;
        else if (dataCount_ < data_.size())
            data_[dataCount_] = mosi;
        ++dataCount_;
    }
    return 0xFF;
}

void SpiFlash::Deselect() {
    if (!selected_)
        return;
    selected_ = false;
    if (position_ == 0)
        return; // chip select pulsed with no clock: nothing
    ++counters_.frames;
    const bool armed = armed_; // 0x50 counts for the one frame after it
    armed_ = false;
    what_[0] = 0;
    Execute(armed);
    if (trace_ && trace_->On())
        trace_->Line("spi %s %02X %s", name_.c_str(), opcode_, what_);
    Persist();
}

uint8_t SpiFlash::Output(uint8_t byte) {
    if (outCount_ < out_.size())
        out_[outCount_] = byte;
    ++outCount_;
    return byte;
}

uint8_t SpiFlash::IdByte(uint32_t index) const {
    return index % 2 == 0 ? part_.manufacturer : part_.device;
}

void SpiFlash::Begin(uint8_t opcode) {
    opcode_ = opcode;
    address_ = 0;
    addressBytes_ = 0;
    dataCount_ = 0;
    outCount_ = 0;
    const bool statusRead = opcode == 0x05 || (opcode == 0x35 && part_.statusRegisters == 2);
    if (Busy() && !statusRead) {
        command_ = Command::Refused;
        refusal_ = SpiFlashMisuse::CommandWhileBusy;
        return;
    }
    if (aai_ && opcode != 0xAF && opcode != 0x05 && opcode != 0x04) {
        command_ = Command::Refused;
        refusal_ = SpiFlashMisuse::AaiOnly;
        return;
    }
    command_ = Decode(opcode);
    switch (command_) {
    case Command::PageProgram:
        latch_.fill(0xFF);
        addressBytes_ = kAddressBytes;
        break;
    case Command::Erase:
        addressBytes_ = erase_->bytes == 0 ? 0 : kAddressBytes; // a chip erase is the opcode alone
        break;
    case Command::ByteProgram:
        addressBytes_ = kAddressBytes;
        break;
    case Command::Aai:
        addressBytes_ = aai_ ? 0 : kAddressBytes; // later frames carry the data byte alone
        break;
    default:
        break;
    }
}

SpiFlash::Command SpiFlash::Decode(uint8_t opcode) {
    switch (opcode) {
    case 0x05:
        return Command::ReadStatus1;
    case 0x35:
        return part_.statusRegisters == 2 ? Command::ReadStatus2 : Command::Unknown;
    case 0x90:
        return Command::ReadId;
    case 0xAB:
        return part_.ab != FlashIdAb::None ? Command::ReadIdAb : Command::Unknown;
    case 0x9F:
        return part_.jedec[0] != 0 ? Command::Jedec : Command::Unknown;
    case 0x03:
        return Command::Read;
    case 0x06:
        return Command::WriteEnable;
    case 0x04:
        return Command::WriteDisable;
    case 0x50:
        return part_.statusOpen == FlashStatusOpen::EnableWriteStatus || part_.volatile50
                   ? Command::StatusOpen
                   : Command::Unknown;
    case 0x01:
        return Command::WriteStatus;
    case 0x31:
        return part_.write31 ? Command::WriteStatus2 : Command::Unknown;
    case 0x02:
        return part_.program == FlashProgram::Page ? Command::PageProgram : Command::ByteProgram;
    case 0xAF:
        return part_.program == FlashProgram::ByteAndAai ? Command::Aai : Command::Unknown;
    default:
        for (const FlashErase& erase : part_.erase) {
            if (erase.opcode != 0 && erase.opcode == opcode) {
                erase_ = &erase;
                return Command::Erase;
            }
        }
        return Command::Unknown;
    }
}

uint8_t SpiFlash::Status1() const {
    return uint8_t(status_[0] | (Busy() ? kBusy : 0) | (wel_ ? kWel : 0) | (aai_ ? kAai : 0));
}

// Each status byte sent is one poll; the operation under way ends after its polls.
uint8_t SpiFlash::StatusPoll() {
    const uint8_t value = Status1();
    ++counters_.statusPolls;
    if (!busyForever_ && busyPolls_ > 0 && --busyPolls_ == 0)
        Finish();
    return value;
}

void SpiFlash::StartBusy(uint32_t micros, bool clearsLatch) {
    latchClearPending_ = clearsLatch;
    if (settings_.stuckBusy) {
        busyForever_ = true;
        return;
    }
    busyPolls_ = (micros + kFlashPollMicros - 1) / kFlashPollMicros;
    if (busyPolls_ == 0)
        Finish();
}

void SpiFlash::Finish() {
    if (latchClearPending_)
        wel_ = false;
    latchClearPending_ = false;
}

void SpiFlash::Describe(const char* format, ...) {
    if (!trace_ || !trace_->On())
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(what_, sizeof what_, format, args);
    va_end(args);
}

void SpiFlash::Refuse(SpiFlashMisuse kind) {
    const char* text = record_.Note(kind, SpiFlashMisuseName(kind), "0x%02X at 0x%06X", opcode_, address_);
    Describe("refused: %s", text);
}

void SpiFlash::Execute(bool armed) {
    switch (command_) {
    case Command::Refused:
        Refuse(refusal_);
        break;
    case Command::Unknown:
        Refuse(SpiFlashMisuse::UnknownCommand);
        break;
    case Command::ReadStatus1:
    case Command::ReadStatus2:
        Describe("status 0x%02X", out_[0]);
        break;
    case Command::ReadId:
    case Command::ReadIdAb:
    case Command::Jedec: {
        char id[12] = {};
        for (uint32_t i = 0; i < outCount_ && i < out_.size(); ++i)
            std::snprintf(id + 3 * i, sizeof id - 3 * i, " %02X", out_[i]);
        Describe("id%s", id);
        break;
    }
    case Command::Read:
        Describe("read 0x%06X +%u", address_ % part_.size, outCount_);
        break;
    case Command::WriteEnable:
    case Command::WriteDisable:
    case Command::StatusOpen:
        if (position_ > 1) {
            Refuse(SpiFlashMisuse::FrameTooLong);
        } else if (command_ == Command::WriteEnable) {
            wel_ = true;
            Describe("write enable");
        } else if (command_ == Command::WriteDisable) {
            wel_ = false;
            aai_ = false;
            Describe("write disable");
        } else {
            armed_ = true;
            Describe("status write enabled for the next frame");
        }
        break;
    case Command::WriteStatus:
    case Command::WriteStatus2:
        ExecuteStatusWrite(armed);
        break;
    case Command::Erase:
        ExecuteErase();
        break;
    case Command::PageProgram:
        ExecutePageProgram();
        break;
    case Command::ByteProgram:
        ExecuteByteProgram();
        break;
    case Command::Aai:
        ExecuteAai();
        break;
    }
}

bool SpiFlash::StatusLocked() const {
    if (part_.family == FlashFamily::Winbond) {
        if (status_[1] & kSrp1)
            return true; // power-supply lock-down or one-time lock
        return (status_[0] & kSrp0) && settings_.writeProtectPin && !(status_[1] & kQe);
    }
    return (status_[0] & part_.lockBit) && settings_.writeProtectPin;
}

void SpiFlash::ExecuteStatusWrite(bool armed) {
    const bool second = command_ == Command::WriteStatus2;
    const uint32_t most = second || !part_.status01Two ? 1 : 2;
    if (dataCount_ == 0)
        return Refuse(SpiFlashMisuse::FrameCutShort);
    if (dataCount_ > most)
        return Refuse(SpiFlashMisuse::FrameTooLong);
    const bool volatileWrite = armed && part_.volatile50;
    if (part_.statusOpen == FlashStatusOpen::EnableWriteStatus) {
        if (!armed)
            return Refuse(SpiFlashMisuse::StatusWriteNotArmed);
    } else if (!volatileWrite && !wel_) {
        return Refuse(SpiFlashMisuse::NoWriteEnable);
    }
    if (StatusLocked())
        return Refuse(SpiFlashMisuse::StatusLocked);
    auto merge2 = [this](uint8_t value) {
        return uint8_t((status_[1] & ~part_.writable2) | (value & part_.writable2) |
                       (status_[1] & part_.otp2));
    };
    std::array<uint8_t, 2> next = status_;
    if (second) {
        next[1] = merge2(data_[0]);
    } else {
        next[0] = uint8_t((status_[0] & ~part_.writable1) | (data_[0] & part_.writable1));
        if (dataCount_ == 2)
            next[1] = merge2(data_[1]);
    }
    Describe("status 0x%02X 0x%02X -> 0x%02X 0x%02X%s", status_[0], status_[1], next[0], next[1],
             volatileWrite ? " (volatile)" : "");
    status_ = next;
    ++counters_.statusWrites;
    if (volatileWrite)
        return; // no latch, no busy time, lost at power-down
    if (part_.statusVolatile) {
        StartBusy(0, true);
        return;
    }
    kept_ = next;
    StartBusy(part_.statusMicros, true);
}

// The protected area by the block-protect bits; `inverted` (Winbond's CMP): everything else is protected.
bool SpiFlash::ProtectedNow(uint32_t address, uint32_t length) const {
    const uint32_t size = part_.size;
    const uint32_t bpMax = uint32_t(part_.bpMask) >> 2;
    const uint32_t bp = uint32_t(status_[0] & part_.bpMask) >> 2;
    const bool winbond = part_.family == FlashFamily::Winbond;
    uint32_t bytes = 0;
    if (bp == bpMax) {
        bytes = size;
    } else if (bp != 0) {
        const bool sectors = winbond && (status_[0] & kSec);
        const uint64_t span = uint64_t(sectors ? kSecUnit : part_.protectUnit) << (bp - 1);
        bytes = uint32_t(std::min<uint64_t>(span, sectors ? kSecLargest : size));
    }
    const bool bottom = winbond && (status_[0] & kTb);
    const uint32_t lo = bottom ? 0 : size - bytes;
    const uint32_t hi = bottom ? bytes : size;
    const uint64_t end = uint64_t(address) + length;
    if (winbond && (status_[1] & kCmp))
        return address < lo || end > hi;
    return address < hi && end > lo;
}

void SpiFlash::ExecuteErase() {
    if (position_ < 1 + addressBytes_)
        return Refuse(SpiFlashMisuse::FrameCutShort);
    if (dataCount_ != 0)
        return Refuse(SpiFlashMisuse::FrameTooLong); // chip select must rise right after the address
    if (!wel_)
        return Refuse(SpiFlashMisuse::NoWriteEnable);
    const uint32_t length = erase_->bytes == 0 ? part_.size : erase_->bytes;
    const uint32_t start = erase_->bytes == 0 ? 0 : (address_ % part_.size) & ~(length - 1);
    if (ProtectedNow(start, length))
        return Refuse(SpiFlashMisuse::Protected);
    std::fill_n(memory_.begin() + long(start), length, uint8_t(0xFF));
    MarkDirty(start, length);
    ++counters_.erases;
    Describe("erase 0x%06X +0x%X", start, length);
    StartBusy(erase_->micros, true);
}

void SpiFlash::ExecutePageProgram() {
    if (position_ < 1 + kAddressBytes || dataCount_ == 0)
        return Refuse(SpiFlashMisuse::FrameCutShort);
    if (!wel_)
        return Refuse(SpiFlashMisuse::NoWriteEnable);
    const uint32_t address = address_ % part_.size;
    const uint32_t page = address & ~(kPageSize - 1);
    if (ProtectedNow(page, kPageSize))
        return Refuse(SpiFlashMisuse::Protected);
    for (uint32_t i = 0; i < kPageSize; ++i)
        memory_[page + i] &= latch_[i];
    MarkDirty(page, kPageSize);
    ++counters_.programs;
    counters_.bytesProgrammed += std::min(dataCount_, kPageSize);
    const bool wrapped = (address % kPageSize) + dataCount_ > kPageSize;
    if (wrapped)
        ++counters_.pageWraps;
    Describe("program 0x%06X +%u%s", address, dataCount_, wrapped ? " (wrapped in its page)" : "");
    StartBusy(part_.programMicros, true);
}

void SpiFlash::ProgramByte(uint32_t address, uint8_t value) {
    memory_[address] &= value;
    MarkDirty(address, 1);
    ++counters_.programs;
    ++counters_.bytesProgrammed;
    counters_.bytesIgnored += dataCount_ - 1;
}

void SpiFlash::ExecuteByteProgram() {
    if (position_ < 2 + kAddressBytes)
        return Refuse(SpiFlashMisuse::FrameCutShort);
    if (!wel_)
        return Refuse(SpiFlashMisuse::NoWriteEnable);
    const uint32_t address = address_ % part_.size;
    if (ProtectedNow(address, 1))
        return Refuse(SpiFlashMisuse::Protected);
    ProgramByte(address, data_[0]);
    Describe("program byte 0x%06X%s", address, dataCount_ > 1 ? " (later bytes ignored)" : "");
    StartBusy(part_.programMicros, true);
}

// Auto address increment: the first frame carries the address and one byte and starts the mode; each later
// frame carries one byte for the next address. The latch stays set until write disable ends the mode.
void SpiFlash::ExecuteAai() {
    if (dataCount_ == 0)
        return Refuse(SpiFlashMisuse::FrameCutShort);
    const bool first = !aai_;
    if (first && !wel_)
        return Refuse(SpiFlashMisuse::NoWriteEnable);
    const uint32_t address = first ? address_ % part_.size : aaiAddress_;
    if (first)
        address_ = address;
    if (ProtectedNow(address, 1))
        return Refuse(SpiFlashMisuse::Protected);
    ProgramByte(address, data_[0]);
    aai_ = true;
    aaiAddress_ = address + 1;
    Describe("aai byte 0x%06X%s", address, dataCount_ > 1 ? " (later bytes ignored)" : "");
    if (aaiAddress_ == part_.size) {
        aai_ = false; // the end of the array ends the mode
        StartBusy(part_.programMicros, true);
        return;
    }
    StartBusy(part_.programMicros, false);
}

// ---- Files for a machine restart ----

bool ReadFlashFile(const std::string& path, FlashFileContents& file, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(path, bytes)) {
        error = "cannot read " + path;
        return false;
    }
    if (!CheckFile(bytes, nullptr, error))
        return false;
    file.manufacturer = bytes[8];
    file.device = bytes[9];
    file.contents.assign(bytes.begin() + kHeaderSize, bytes.end());
    return true;
}

bool PowerCycleFlashFile(const SpiFlashSettings& settings, std::string& error) {
    std::error_code ec;
    if (settings.file.empty() || !fs::exists(fs::u8path(settings.file), ec))
        return true;
    FlashFileContents contents;
    if (!ReadFlashFile(settings.file, contents, error))
        return false;
    const FlashPart* part = FindFlashPart(contents.manufacturer, contents.device);
    if (!part) {
        error = "the flash file holds an unknown part";
        return false;
    }
    SpiFlash flash(*part, settings);
    if (!flash.FileNote().empty()) {
        error = flash.FileNote();
        return false;
    }
    flash.PowerCycle();
    return flash.Counters().fileErrors == 0;
}

} // namespace sim
