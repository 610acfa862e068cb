// Update streams for the Q740's FPGA: a small writer of XSVF commands and the generator that turns a
// firmware image file into the stream of our programming protocol (sim/Fpga.h). Plain standard C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Fpga.h"

namespace sim {

using XsvfBytes = std::vector<uint8_t>;

// Appends XSVF commands. Vectors are given as the stream carries them: byte 0 most significant, the last
// byte's bit 0 shifted first; the caller keeps them at the current data length (XSDRSIZE).
class XsvfWriter {
public:
    // `value` as a vector of `bits` bits ((bits + 7) / 8 bytes); bits above 64 are zero.
    static XsvfBytes Vector(uint64_t value, uint32_t bits);
    // Words as one vector: the first word is shifted first (it is the vector's least significant word).
    static XsvfBytes Words(const uint32_t* words, size_t count);

    void Complete();
    void TdoMask(const XsvfBytes& mask);
    void Sir(uint8_t bits, uint64_t value);
    void Sir2(uint16_t bits, uint64_t value);
    void Sdr(const XsvfBytes& tdi);
    void RunTest(uint32_t microseconds);
    void Repeat(uint8_t count);
    void SdrSize(uint32_t bits);
    void SdrTdo(const XsvfBytes& tdi, const XsvfBytes& tdo);
    void SetSdrMasks(const XsvfBytes& addressMask, const XsvfBytes& dataMask);
    // `next` holds the data of each following shift, (number of data-mask bits + 7) / 8 bytes each.
    void SdrInc(const XsvfBytes& tdi, const std::vector<XsvfBytes>& next);
    void SdrB(const XsvfBytes& tdi);
    void SdrC(const XsvfBytes& tdi);
    void SdrE(const XsvfBytes& tdi);
    void State(uint8_t state);
    void EndIr(uint8_t pause);
    void EndDr(uint8_t pause);
    void Comment(const std::string& text);
    void Wait(uint8_t waitState, uint8_t endState, uint32_t microseconds);
    void Raw(const XsvfBytes& bytes);

    const XsvfBytes& Stream() const { return out_; }

private:
    void Put(uint8_t byte) { out_.push_back(byte); }
    void Put32(uint32_t value);
    void PutVector(const XsvfBytes& vector) { out_.insert(out_.end(), vector.begin(), vector.end()); }

    XsvfBytes out_;
};

struct UpdateStreamOptions {
    uint32_t irLength = fpga::kDefaultIrLength;
    uint32_t idcode = fpga::kDefaultIdcode;
    uint32_t idcodeMask = fpga::kIdcodeMask;
    uint32_t eraseWait = 500;     // microseconds (TCK pulses) before the first status poll, raised per retry
    uint8_t erasePolls = 16;      // retries of the status poll after the erase
    uint32_t programWords = 1024; // the first words go through PROGRAM and XSDRINC, the rest by burst
    uint32_t chunkWords = 256;    // words per burst or read-back vector
    uint32_t blockWords = 1024;   // words per burst block (address check, then chunks in one Shift-DR)
};

// The stream that identifies the FPGA, enters configuration mode, erases, programs the configuration data of
// the firmware image file `file` (from the start marker on, padded to whole words with 0xFF), checks the
// status, reads everything back against the expected words, and leaves configuration mode. False with a
// message when the file is no valid firmware image or the options are out of range.
bool MakeUpdateStream(const uint8_t* file, size_t size, const UpdateStreamOptions& options, XsvfBytes& stream,
                      std::string& error);

} // namespace sim
