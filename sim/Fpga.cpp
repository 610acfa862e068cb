#include "sim/Fpga.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "sim/Fields.h"
#include "sim/Machine.h"

namespace sim {

namespace {

namespace fs = std::filesystem;
using namespace fpga;

struct FpgaSettings {
    uint32_t irLength = kDefaultIrLength;
    uint32_t idcode = kDefaultIdcode;
    uint32_t eraseClocks = kDefaultEraseClocks;
    uint32_t storeBytes = kDefaultStoreBytes;
    FirmwareVersion version{1, 6, 10};
    bool verifyFails = false;
    bool busy = false;
};

// "03:00.0" as the description writes it, here with a chosen separator (a folder name cannot hold ':').
std::string Location(const PciFunction& function, char separator) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X%c%02X.%X", function.bus & 0xFF, separator, function.device & 0x1F,
                  function.function & 7);
    return text;
}

// The card's FPGA keys, one row each.
const std::vector<Field<FpgaSettings>>& FpgaFields() {
    using F = FpgaSettings;
    static const std::vector<Field<F>> fields = {
        RangeField<F>("fpga-ir", &F::irLength, 5, 32),
        NumberField<F>("fpga-idcode", &F::idcode, 8),
        NumberField<F>("fpga-erase-clocks", &F::eraseClocks),
        RangeField<F>("fpga-store-size", &F::storeBytes, 4, 0xFFFFFFFFu),
        ValueField<F, FirmwareVersion>("fpga-version", &F::version, ParseVersion, FormatVersion),
        BoolField<F>("fpga-verify-fails", &F::verifyFails),
        BoolField<F>("fpga-busy", &F::busy),
    };
    return fields;
}

// Reads the card's FPGA keys. A bad value is reported and leaves that setting at its default.
bool ReadSettings(const PciFunction& function, FpgaSettings& settings, std::string& error) {
    const FieldError bad = ReadFields(FpgaFields(), function.extra, settings);
    if (bad)
        error = "[pci] " + Location(function, ':') + ": bad value of " + bad.key;
    return !bad;
}

const char kStoreFile[] = "config.bin";
const char kRunningFile[] = "running-version";

bool ReadBytes(const fs::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Replaces the file through a temporary one beside it, so that a reader in another thread or process sees
// the old or the new content, never a part of it.
bool WriteBytes(const fs::path& path, const uint8_t* data, size_t size) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    fs::path temp = path;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        out.close();
        if (out.fail())
            return false;
    }
    fs::rename(temp, path, ec);
    if (!ec)
        return true;
    fs::remove(temp, ec);
    return false;
}

bool ReadRunningVersion(const fs::path& folder, bool& present, FirmwareVersion& version) {
    std::vector<uint8_t> bytes;
    present = ReadBytes(folder / kRunningFile, bytes);
    if (!present)
        return true;
    return ParseVersion(Trim(std::string(bytes.begin(), bytes.end())), version);
}

bool WriteRunningVersion(const fs::path& folder, const FirmwareVersion& version) {
    const std::string text = FormatVersion(version) + "\n";
    return WriteBytes(folder / kRunningFile, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

enum class DrMode : uint8_t { Fixed, Burst, Read };

class Fpga final : public JtagDevice {
public:
    Fpga(const FpgaSettings& settings, const std::string& folder)
        : settings_(settings), folder_(fs::u8path(folder)),
          irMask_(settings.irLength >= 32 ? 0xFFFFFFFFu : (1u << settings.irLength) - 1),
          capacityWords_(settings.storeBytes / 4) {
        std::vector<uint8_t> bytes;
        factory_ = !ReadBytes(folder_ / kStoreFile, bytes);
        words_.resize((bytes.size() + 3) / 4, 0xFFFFFFFFu);
        for (size_t i = 0; i < bytes.size(); ++i) {
            const uint32_t shift = 24 - 8 * uint32_t(i % 4);
            words_[i / 4] = (words_[i / 4] & ~(0xFFu << shift)) | uint32_t(bytes[i]) << shift;
        }
        Reset();
    }
    ~Fpga() override { Commit(); }

    void Reset() override {
        enabled_ = false;
        erased_ = false;
        Select(kIrIdcode);
        dr_ = settings_.idcode;
        irPath_ = false;
    }
    uint32_t IrLength() const override { return settings_.irLength; }

    void CaptureIr() override {
        ir_ = 0x01; // the ...01 every instruction register captures
        irPath_ = true;
    }
    void ShiftIr(bool tdi) override { ir_ = (ir_ >> 1) | (uint64_t(tdi) << (settings_.irLength - 1)); }
    void UpdateIr() override {
        Select(uint32_t(ir_) & irMask_);
        if (instruction_ == kIrDone) {
            enabled_ = false;
            Commit();
        }
    }

    void CaptureDr() override {
        irPath_ = false;
        bits_ = 0;
        switch (instruction_) {
        case kIrIdcode:
            dr_ = settings_.idcode;
            break;
        case kIrStatus:
        case kIrProgram:
            dr_ = Status();
            break;
        case kIrAddress:
            dr_ = pointer_;
            break;
        case kIrRead:
            dr_ = ReadWord(pointer_);
            readCursor_ = pointer_ + 1;
            break;
        default:
            dr_ = 0;
            break;
        }
    }

    void ShiftDr(bool tdi) override {
        switch (mode_) {
        case DrMode::Fixed:
            dr_ = (dr_ >> 1) | (uint64_t(tdi) << drTop_);
            break;
        case DrMode::Burst:
            dr_ = (dr_ >> 1) | (uint64_t(tdi) << 31);
            if (++bits_ == 32) {
                Write(pointer_++, uint32_t(dr_));
                bits_ = 0;
            }
            break;
        case DrMode::Read:
            dr_ >>= 1;
            if (++bits_ == 32) {
                dr_ = ReadWord(readCursor_++);
                bits_ = 0;
            }
            break;
        }
    }

    void UpdateDr() override {
        switch (instruction_) {
        case kIrEnable:
            if (uint32_t(dr_) == kEnableKey) {
                enabled_ = true;
                erased_ = false;
                error_ = false;
            }
            break;
        case kIrErase:
            if (uint32_t(dr_) != kEraseKey)
                break;
            if (!enabled_ || busy_) {
                error_ = true;
                break;
            }
            busy_ = true;
            eraseLeft_ = settings_.eraseClocks;
            if (eraseLeft_ == 0 && !settings_.busy)
                FinishErase();
            break;
        case kIrAddress:
            pointer_ = uint32_t(dr_);
            break;
        case kIrProgram:
            pointer_ = uint32_t(dr_ >> 32);
            Write(pointer_++, uint32_t(dr_));
            break;
        case kIrRead:
            pointer_ = readCursor_ - 1; // the words shifted out completely
            break;
        default:
            break;
        }
    }

    void RunTestClock() override {
        if (busy_ && !settings_.busy && --eraseLeft_ == 0)
            FinishErase();
    }

    bool Tdo() const override { return ((irPath_ ? ir_ : dr_) & 1) != 0; }

    void DonePulse() override {
        Commit();
        FirmwareVersion running = settings_.version;
        if (!factory_) {
            std::vector<uint8_t> bytes(words_.size() * 4);
            for (size_t i = 0; i < words_.size(); ++i) {
                for (uint32_t b = 0; b < 4; ++b)
                    bytes[i * 4 + b] = uint8_t(words_[i] >> (24 - 8 * b));
            }
            if (CheckConfigData(bytes.data(), bytes.size(), running) != ImageCheck::Ok)
                running = FirmwareVersion{};
        }
        WriteRunningVersion(folder_, running);
    }

private:
    void Select(uint32_t instruction) {
        instruction_ = instruction;
        mode_ = DrMode::Fixed;
        switch (instruction) {
        case kIrIdcode:
        case kIrEnable:
        case kIrErase:
        case kIrAddress:
            drTop_ = 31;
            break;
        case kIrStatus:
            drTop_ = 7;
            break;
        case kIrProgram:
            drTop_ = 63;
            break;
        case kIrBurst:
            mode_ = DrMode::Burst;
            break;
        case kIrRead:
            mode_ = DrMode::Read;
            break;
        default: // BYPASS, DONE and every unknown code: one bit
            instruction_ = instruction == kIrDone ? kIrDone : irMask_;
            drTop_ = 0;
            break;
        }
    }

    uint8_t Status() const {
        return uint8_t(kStatusSignature | (busy_ ? kStatusBusy : 0) | (enabled_ ? kStatusEnabled : 0) |
                       (erased_ ? kStatusErased : 0) | (error_ ? kStatusError : 0));
    }

    uint32_t ReadWord(uint32_t address) const {
        const uint32_t word = address < words_.size() ? words_[address] : 0xFFFFFFFFu;
        return settings_.verifyFails ? word ^ kVerifyFaultBit : word;
    }

    // A write programs like flash: it can only clear bits of an erased word.
    void Write(uint32_t address, uint32_t word) {
        if (!enabled_ || !erased_ || busy_ || address >= capacityWords_) {
            error_ = true;
            return;
        }
        if (address >= words_.size())
            words_.resize(size_t(address) + 1, 0xFFFFFFFFu);
        words_[address] &= word;
        dirty_ = true;
    }

    void FinishErase() {
        busy_ = false;
        erased_ = true;
        factory_ = false;
        words_.clear();
        dirty_ = true;
        Commit(); // an erase is final at once, whatever follows
    }

    // Writes the store to its file when it changed.
    void Commit() {
        if (!dirty_)
            return;
        std::vector<uint8_t> bytes(words_.size() * 4);
        for (size_t i = 0; i < words_.size(); ++i) {
            for (uint32_t b = 0; b < 4; ++b)
                bytes[i * 4 + b] = uint8_t(words_[i] >> (24 - 8 * b));
        }
        if (WriteBytes(folder_ / kStoreFile, bytes.data(), bytes.size()))
            dirty_ = false;
    }

    const FpgaSettings settings_;
    const fs::path folder_;
    const uint32_t irMask_;
    const uint32_t capacityWords_;

    // JTAG side.
    uint64_t ir_ = 0x01;
    uint32_t instruction_ = kIrIdcode;
    bool irPath_ = false; // the last capture was of the instruction register
    DrMode mode_ = DrMode::Fixed;
    uint32_t drTop_ = 31; // bit where TDI enters a fixed-length data register
    uint64_t dr_ = 0;
    uint32_t bits_ = 0; // bits of the current word in burst and read

    // Configuration side.
    std::vector<uint32_t> words_; // the store up to its last written word; the rest reads erased
    bool factory_ = true;         // the store holds the factory image (no file yet)
    bool dirty_ = false;
    uint32_t pointer_ = 0;
    uint32_t readCursor_ = 0;
    bool enabled_ = false, erased_ = false, error_ = false, busy_ = false;
    uint32_t eraseLeft_ = 0;
};

} // namespace

std::string FpgaFolder(const std::string& machineDir, const PciFunction& function) {
    return (fs::u8path(machineDir) / "cards" / Location(function, '-')).u8string();
}

bool CheckFpgaSettings(const PciFunction& function, std::string& error) {
    FpgaSettings settings;
    return ReadSettings(function, settings, error);
}

std::unique_ptr<JtagDevice> MakeFpga(const PciFunction& function, const std::string& machineDir, int index) {
    (void)index;
    FpgaSettings settings;
    std::string error;
    ReadSettings(function, settings, error); // bad keys keep their defaults
    return std::make_unique<Fpga>(settings, FpgaFolder(machineDir, function));
}

bool ReadFpgaVersion(const std::string& machineDir, const PciFunction& function, int index, uint8_t& major,
                     uint8_t& minor, uint8_t& build, std::string* why) {
    (void)index;
    FpgaSettings settings;
    std::string error;
    if (!ReadSettings(function, settings, error)) {
        if (why)
            *why = error;
        return false;
    }
    bool present = false;
    FirmwareVersion version = settings.version;
    const fs::path folder = fs::u8path(FpgaFolder(machineDir, function));
    if (!ReadRunningVersion(folder, present, version)) {
        if (why)
            *why = "damaged " + (folder / kRunningFile).u8string();
        return false;
    }
    major = version.major;
    minor = version.minor;
    build = version.build;
    return true;
}

bool ReloadFpga(const std::string& machineDir, const PciFunction& function, int index) {
    FpgaSettings settings;
    std::string error;
    if (!ReadSettings(function, settings, error))
        return false;
    MakeFpga(function, machineDir, index)->DonePulse();
    return true;
}

bool ConfigureFpgaFrom(const std::string& machineDir, const PciFunction& function, int index,
                       const uint8_t* data, size_t size) {
    (void)index;
    FirmwareVersion version;
    if (CheckConfigData(data, size, version) != ImageCheck::Ok)
        version = FirmwareVersion{};
    return WriteRunningVersion(fs::u8path(FpgaFolder(machineDir, function)), version);
}

} // namespace sim
