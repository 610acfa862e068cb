// The XSVF interpreter: plays one update stream into the JTAG chain of one card through the port layer. It
// decodes the stream command by command, keeps the TAP state, shift lengths, masks and timing, shifts the
// instruction and data vectors, compares captured TDO with the expected value, retries where the stream
// allows it, and stops at the first error or at XCOMPLETE.
//
// One interpreter runs per card, on that card's worker thread. All of them read the same stream buffer,
// each through its own job's read position; nothing of an interpreter is shared with another.
#pragma once

#include <cstdint>
#include <memory>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "update/DeviceUpdate.h"

// Largest vector a stream can carry, in bytes; each of the seven vector blocks has this size.
constexpr uint32_t kMaxVectorBytes = 2000000;

// Results of PlayXsvf. 1 is reserved and never produced.
constexpr int32_t kXsvfSuccess = 0;        // XCOMPLETE reached
constexpr int32_t kXsvfTdoMismatch = 2;    // captured TDO differs from the expected value, no retries allowed
constexpr int32_t kXsvfMaxRetries = 3;     // still a mismatch after repeat limit + 1 attempts
constexpr int32_t kXsvfIllegalCommand = 4; // command code 5, 6, or 24 and above
constexpr int32_t kXsvfIllegalState = 5; // end-state operand other than 0 or 1, refused TAP move, state > 15
constexpr int32_t kXsvfDataOverflow = 6; // a vector longer than kMaxVectorBytes
constexpr int32_t kXsvfStreamEnded = 7;  // the stream ended before XCOMPLETE, inside a command or between
constexpr int32_t kXsvfOutOfMemory = 8;  // the vector blocks could not be allocated

// Command codes of the stream.
enum class XsvfCommand : uint8_t {
    XCOMPLETE = 0x00,
    XTDOMASK = 0x01,
    XSIR = 0x02,
    XSDR = 0x03,
    XRUNTEST = 0x04,
    XREPEAT = 0x07,
    XSDRSIZE = 0x08,
    XSDRTDO = 0x09,
    XSETSDRMASKS = 0x0A,
    XSDRINC = 0x0B,
    XSDRB = 0x0C,
    XSDRC = 0x0D,
    XSDRE = 0x0E,
    XSDRTDOB = 0x0F,
    XSDRTDOC = 0x10,
    XSDRTDOE = 0x11,
    XSTATE = 0x12,
    XENDIR = 0x13,
    XENDDR = 0x14,
    XSIR2 = 0x15,
    XCOMMENT = 0x16,
    XWAIT = 0x17,
};

// One vector: `length` valid bytes in a block owned elsewhere. Byte 0 is the most significant; the last
// valid byte holds the least significant bits, which are shifted first.
struct tagLenVal {
    uint32_t length = 0;
    uint8_t* bytes = nullptr;
};

// The XSDRINC step between two shifts: adds the address mask to the TDI value as big-endian numbers (the
// final carry is dropped), then writes the next-data bits, least significant first, into the bit positions
// that the data mask marks, from its least significant bit upwards. Vectors of different lengths are
// aligned at their least significant byte; bytes a vector does not have count as 0.
void ApplySdrMasks(tagLenVal& tdi, const tagLenVal& addressMask, const tagLenVal& dataMask,
                   const tagLenVal& nextData);

// The seven vector blocks of one interpreter (TDI, expected TDO, captured TDO, TDO mask, address mask, data
// mask, next data), kMaxVectorBytes each. Their content does not carry from one stream to the next: a
// stream reads only what it has written.
class XsvfBlocks {
public:
    static constexpr int kCount = 7;
    // False when the memory is not available; no exception leaves it.
    bool Allocate();
    uint8_t* Block(int index) const { return blocks_[index].get(); }

private:
    std::unique_ptr<uint8_t[]> blocks_[kCount];
};

// Plays the job's stream from its read position to XCOMPLETE or the first error and returns the result
// code. Every byte taken advances `stream` and `consumed` and recomputes `percent` (consumed * 100 / size,
// held at 99: only the worker's `Finish` stores 100); bytes after XCOMPLETE are not read. The stream is never
// read past `streamSize`. The caller sets TMS to 1 in the output image first; the result is not stored in
// the job.
// Allocates the vector blocks for this stream; kXsvfOutOfMemory when they cannot be had.
int32_t PlayXsvf(tagDeviceUpdate& job, RegisterBus& bus);
// The same with blocks the caller allocated, for callers that play many streams one after another.
int32_t PlayXsvf(tagDeviceUpdate& job, RegisterBus& bus, const XsvfBlocks& blocks);
