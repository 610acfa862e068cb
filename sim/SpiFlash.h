// An SPI NOR flash: one byte state machine, parameterised by a part row (sim/FlashParts.h). A command is
// one chip-select frame; it acts when chip select rises. Identification (0x90, and 0xAB or 0x9F where the
// part knows them), status registers and their writes, the write-enable latch, block protection, busy time
// counted in status polls, erase to 0xFF by the part's own opcodes, programming that only clears bits, page
// wrap, read (0x03), and the SST part's byte and auto-address-increment programs. What a part would ignore
// is ignored and recorded as misuse; nothing is fatal. docs/SIMULATOR.md describes the model.
//
// Contents and state can live in a file, written where it changed at the end of each frame that changed
// it (never per byte), so that they survive the process and a restart, as a flash does. Not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "sim/FlashParts.h"
#include "sim/FpgaImage.h"
#include "sim/Misuse.h"
#include "sim/Trace.h"

namespace sim {

// An SPI device as a bridge drives it.
class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    virtual void Select() = 0;                  // chip select falls: a frame begins
    virtual uint8_t Transfer(uint8_t mosi) = 0; // one byte each way; returns what the device sent
    virtual void Deselect() = 0;                // chip select rises: the frame ends
};

// One flash part on a card, with its fault switches.
struct SpiFlashSettings {
    std::string part = "W25Q64FV"; // a row's name (sim/FlashParts.h)
    std::string file;              // where contents and state persist (empty: in memory only)
    // What a new card's flash holds: the configuration data of a firmware image of this version from
    // address 0 (0 bytes: erased). A flash whose file does not exist yet holds it.
    FirmwareVersion factoryVersion{1, 6, 10};
    uint32_t factoryImageBytes = 0x8000;
    // Faults.
    bool stuckBusy = false;        // the first program, erase or status write never ends
    bool writeProtectPin = false;  // WP# held low: the part's lock bit, when set, refuses status writes
    bool protectAtPowerUp = false; // every block-protect bit and the lock bit are set at power-up
    bool absent = false;           // no part is fitted: every byte reads 0xFF, nothing is kept
};
// False with a message for a part name no row has (the model then carries the default part).
bool CheckSpiFlashSettings(const SpiFlashSettings& settings, std::string& error);

// One status poll stands for this much time: one status read through an FPGA bridge at 800 kHz.
constexpr uint32_t kFlashPollMicros = 300;

enum class SpiFlashMisuse {
    NotSelected,         // a byte clocked while chip select is high
    CommandWhileBusy,    // a command other than a status read while busy (ignored)
    NoWriteEnable,       // program, erase or status write without the write-enable latch
    Protected,           // program or erase of a protected area (not done)
    StatusLocked,        // status write while the lock bit and WP# (or SRP1) lock the register
    StatusWriteNotArmed, // the SST part's 0x01 without 0x50 in the frame before
    FrameCutShort,       // chip select rose before the command had its address or data
    FrameTooLong,        // bytes after a command that must end (the part does not act)
    UnknownCommand,      // an opcode the part does not know (ignored)
    AaiOnly,             // during auto-address-increment a command other than 0xAF, 0x05, 0x04
};
constexpr size_t kSpiFlashMisuseKinds = 10;
const char* SpiFlashMisuseName(SpiFlashMisuse kind);
using SpiFlashRecord = MisuseRecord<SpiFlashMisuse, kSpiFlashMisuseKinds>;

struct SpiFlashCounters {
    uint64_t frames = 0;
    uint64_t statusPolls = 0; // status register 1 bytes sent
    uint64_t programs = 0;    // program commands carried out (a page, a byte, an AAI byte)
    uint64_t erases = 0;
    uint64_t statusWrites = 0;
    uint64_t bytesProgrammed = 0; // data bytes that reached the array
    uint64_t pageWraps = 0;       // page programs that ran past their page's end and wrapped
    uint64_t bytesIgnored = 0;    // data bytes after the one a byte or AAI program takes
    uint64_t fileWrites = 0;
    uint64_t fileErrors = 0;
};

class SpiFlash final : public SpiDevice {
public:
    explicit SpiFlash(const SpiFlashSettings& settings = {});
    SpiFlash(const FlashPart& part, const SpiFlashSettings& settings);
    ~SpiFlash() override;
    SpiFlash(const SpiFlash&) = delete;
    SpiFlash& operator=(const SpiFlash&) = delete;

    void Select() override;
    uint8_t Transfer(uint8_t mosi) override;
    void Deselect() override;

    // SPI commands go to this trace as one line a frame, "spi NAME ..." (null: none).
    void SetTrace(Trace* trace, const std::string& name);

    // Power off and on: busy, the latch and volatile status bits are lost, the status registers take
    // their power-up values, and the power-up faults apply. Written to the file.
    void PowerCycle();
    // The whole state to a file (through a temporary one, so a reader sees the old or the new), or from
    // one: a file of another part, of another size or damaged is refused with a message.
    bool Save(const std::string& path);
    bool Load(const std::string& path, std::string& error);
    // What happened to the settings' file when it was read: empty, or why the part started new.
    const std::string& FileNote();

    const FlashPart& Part() const { return part_; }
    const std::vector<uint8_t>& Contents();
    // Status register 1 or 2 as a status read shows it now, without counting as a poll.
    uint8_t Status(int index);
    bool WriteEnabled() const { return wel_; }
    bool Busy() const { return busyForever_ || busyPolls_ > 0; }
    bool InAai() const { return aai_; }
    bool Protected(uint32_t address, uint32_t length);

    const SpiFlashCounters& Counters() const { return counters_; }
    const SpiFlashRecord& Record() const { return record_; }

private:
    enum class Command : uint8_t {
        Refused,
        Unknown,
        ReadStatus1,
        ReadStatus2,
        ReadId,
        ReadIdAb,
        Jedec,
        Read,
        WriteEnable,
        WriteDisable,
        StatusOpen,
        WriteStatus,
        WriteStatus2,
        Erase,
        PageProgram,
        ByteProgram,
        Aai,
    };
    struct Header; // the persisted state but the contents

    void Ensure();
    void Fresh();
    void PowerUpFaults();
    void Begin(uint8_t opcode);
    Command Decode(uint8_t opcode);
    uint8_t Output(uint8_t byte);
    uint8_t IdByte(uint32_t index) const;
    uint8_t StatusPoll();
    uint8_t Status1() const;
    void Execute(bool armed);
    void Refuse(SpiFlashMisuse kind);
    void Describe(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void ExecuteStatusWrite(bool armed);
    void ExecuteErase();
    void ExecutePageProgram();
    void ExecuteByteProgram();
    void ExecuteAai();
    void ProgramByte(uint32_t address, uint8_t value);
    void StartBusy(uint32_t micros, bool clearsLatch);
    void Finish();
    bool StatusLocked() const;
    bool ProtectedNow(uint32_t address, uint32_t length) const;
    void MarkDirty(uint32_t start, uint32_t length);
    std::array<uint8_t, 32> HeaderBytes() const;
    bool ApplyFile(const std::vector<uint8_t>& bytes, std::string& error);
    void Persist();

    const FlashPart& part_;
    const SpiFlashSettings settings_;
    Trace* trace_ = nullptr;
    std::string name_;

    // The part.
    bool loaded_ = false;
    std::vector<uint8_t> memory_;
    std::array<uint8_t, 2> status_{}; // as they are now (without BUSY, WEL, AAI)
    std::array<uint8_t, 2> kept_{};   // the non-volatile values
    bool wel_ = false, aai_ = false;
    bool armed_ = false; // 0x50 came in the frame before
    uint32_t aaiAddress_ = 0;
    uint32_t busyPolls_ = 0;
    bool busyForever_ = false;
    bool latchClearPending_ = false;

    // The frame under way.
    bool selected_ = false;
    uint32_t position_ = 0; // bytes clocked so far
    Command command_ = Command::Unknown;
    SpiFlashMisuse refusal_ = SpiFlashMisuse::UnknownCommand;
    uint8_t opcode_ = 0;
    uint32_t addressBytes_ = 0;
    uint32_t address_ = 0;
    uint32_t dataCount_ = 0;
    std::array<uint8_t, 2> data_{};
    std::array<uint8_t, 256> latch_{};
    const FlashErase* erase_ = nullptr;
    std::array<uint8_t, 3> out_{};
    uint32_t outCount_ = 0;
    char what_[112] = {};

    // The file.
    std::fstream file_;
    bool fileWhole_ = true; // the next write must write the whole file (it does not exist, or is stale)
    std::array<uint8_t, 32> written_{};
    uint32_t dirtyStart_ = 0, dirtyEnd_ = 0;
    std::string fileNote_;

    SpiFlashCounters counters_;
    SpiFlashRecord record_;
};

// A flash file as the FPGA reads it at power-up: the part's identity and its contents. False with a
// message when the file is absent, damaged or not a flash file.
struct FlashFileContents {
    uint8_t manufacturer = 0, device = 0;
    std::vector<uint8_t> contents;
};
bool ReadFlashFile(const std::string& path, FlashFileContents& file, std::string& error);

// A machine restart for a flash kept in a file: loads it, power-cycles it, writes it back. True when there
// is nothing to do (no file yet: a new part powers up as new).
bool PowerCycleFlashFile(const SpiFlashSettings& settings, std::string& error);

} // namespace sim
