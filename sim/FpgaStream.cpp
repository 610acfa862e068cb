#include "sim/FpgaStream.h"

#include <algorithm>

namespace sim {

namespace {

// Command codes of the XSVF format.
enum : uint8_t {
    kXComplete = 0x00,
    kXTdoMask = 0x01,
    kXSir = 0x02,
    kXSdr = 0x03,
    kXRunTest = 0x04,
    kXRepeat = 0x07,
    kXSdrSize = 0x08,
    kXSdrTdo = 0x09,
    kXSetSdrMasks = 0x0A,
    kXSdrInc = 0x0B,
    kXSdrB = 0x0C,
    kXSdrC = 0x0D,
    kXSdrE = 0x0E,
    kXState = 0x12,
    kXEndIr = 0x13,
    kXEndDr = 0x14,
    kXSir2 = 0x15,
    kXComment = 0x16,
    kXWait = 0x17,
};

constexpr uint8_t kStateReset = 0;
constexpr uint8_t kStateIdle = 1;

} // namespace

XsvfBytes XsvfWriter::Vector(uint64_t value, uint32_t bits) {
    const uint32_t bytes = (bits + 7) / 8;
    XsvfBytes out(bytes, 0);
    for (uint32_t i = 0; i < bytes && i < 8; ++i)
        out[bytes - 1 - i] = uint8_t(value >> (8 * i));
    return out;
}

XsvfBytes XsvfWriter::Words(const uint32_t* words, size_t count) {
    XsvfBytes out(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = (count - 1 - i) * 4;
        out[at] = uint8_t(words[i] >> 24);
        out[at + 1] = uint8_t(words[i] >> 16);
        out[at + 2] = uint8_t(words[i] >> 8);
        out[at + 3] = uint8_t(words[i]);
    }
    return out;
}

void XsvfWriter::Put32(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        Put(uint8_t(value >> shift));
}

void XsvfWriter::Complete() {
    Put(kXComplete);
}
void XsvfWriter::TdoMask(const XsvfBytes& mask) {
    Put(kXTdoMask);
    PutVector(mask);
}
void XsvfWriter::Sir(uint8_t bits, uint64_t value) {
    Put(kXSir);
    Put(bits);
    PutVector(Vector(value, bits));
}
void XsvfWriter::Sir2(uint16_t bits, uint64_t value) {
    Put(kXSir2);
    Put(uint8_t(bits >> 8));
    Put(uint8_t(bits));
    PutVector(Vector(value, bits));
}
void XsvfWriter::Sdr(const XsvfBytes& tdi) {
    Put(kXSdr);
    PutVector(tdi);
}
void XsvfWriter::RunTest(uint32_t microseconds) {
    Put(kXRunTest);
    Put32(microseconds);
}
void XsvfWriter::Repeat(uint8_t count) {
    Put(kXRepeat);
    Put(count);
}
void XsvfWriter::SdrSize(uint32_t bits) {
    Put(kXSdrSize);
    Put32(bits);
}
void XsvfWriter::SdrTdo(const XsvfBytes& tdi, const XsvfBytes& tdo) {
    Put(kXSdrTdo);
    PutVector(tdi);
    PutVector(tdo);
}
void XsvfWriter::SetSdrMasks(const XsvfBytes& addressMask, const XsvfBytes& dataMask) {
    Put(kXSetSdrMasks);
    PutVector(addressMask);
    PutVector(dataMask);
}
void XsvfWriter::SdrInc(const XsvfBytes& tdi, const std::vector<XsvfBytes>& next) {
    Put(kXSdrInc);
    PutVector(tdi);
    Put(uint8_t(next.size()));
    for (const XsvfBytes& data : next)
        PutVector(data);
}
void XsvfWriter::SdrB(const XsvfBytes& tdi) {
    Put(kXSdrB);
    PutVector(tdi);
}
void XsvfWriter::SdrC(const XsvfBytes& tdi) {
    Put(kXSdrC);
    PutVector(tdi);
}
void XsvfWriter::SdrE(const XsvfBytes& tdi) {
    Put(kXSdrE);
    PutVector(tdi);
}
void XsvfWriter::State(uint8_t state) {
    Put(kXState);
    Put(state);
}
void XsvfWriter::EndIr(uint8_t pause) {
    Put(kXEndIr);
    Put(pause);
}
void XsvfWriter::EndDr(uint8_t pause) {
    Put(kXEndDr);
    Put(pause);
}
void XsvfWriter::Comment(const std::string& text) {
    Put(kXComment);
    out_.insert(out_.end(), text.begin(), text.end());
    Put(0);
}
void XsvfWriter::Wait(uint8_t waitState, uint8_t endState, uint32_t microseconds) {
    Put(kXWait);
    Put(waitState);
    Put(endState);
    Put32(microseconds);
}
void XsvfWriter::Raw(const XsvfBytes& bytes) {
    PutVector(bytes);
}

bool MakeUpdateStream(const uint8_t* file, size_t size, const UpdateStreamOptions& options, XsvfBytes& stream,
                      std::string& error) {
    using namespace fpga;
    FirmwareVersion version;
    size_t offset = 0;
    const ImageCheck check = CheckBitstreamFile(file, size, version, offset);
    if (check != ImageCheck::Ok) {
        error = std::string("not a firmware image: ") + ImageCheckText(check);
        return false;
    }
    if (options.irLength < 5 || options.irLength > 32 || options.chunkWords == 0 || options.blockWords == 0 ||
        uint64_t(options.chunkWords) * 32 > 0xFFFFFF) {
        error = "stream options out of range";
        return false;
    }

    // The configuration data as 32-bit words, the first byte most significant.
    const size_t dataSize = size - offset;
    std::vector<uint32_t> words((dataSize + 3) / 4, 0xFFFFFFFFu);
    for (size_t i = 0; i < dataSize; ++i) {
        const uint32_t shift = 24 - 8 * uint32_t(i % 4);
        words[i / 4] = (words[i / 4] & ~(0xFFu << shift)) | uint32_t(file[offset + i]) << shift;
    }
    const uint32_t count = uint32_t(words.size());
    const uint8_t ir = uint8_t(options.irLength);
    const uint8_t erasedStatus = kStatusSignature | kStatusEnabled | kStatusErased;

    XsvfWriter w;
    w.Comment("Veskora Q740 FPGA update, firmware " + FormatVersion(version) + ", " + std::to_string(count) +
              " configuration words");
    w.State(kStateReset);
    w.State(kStateIdle);
    w.EndIr(0);
    w.EndDr(0);
    w.Repeat(0);
    w.RunTest(0);

    w.Comment("identify");
    w.Sir(ir, kIrIdcode);
    w.SdrSize(32);
    w.TdoMask(XsvfWriter::Vector(options.idcodeMask, 32));
    w.SdrTdo(XsvfWriter::Vector(0, 32), XsvfWriter::Vector(options.idcode, 32));

    w.Comment("enter configuration mode");
    w.Sir(ir, kIrEnable);
    w.TdoMask(XsvfWriter::Vector(0, 32));
    w.Sdr(XsvfWriter::Vector(kEnableKey, 32));
    w.Wait(kStateIdle, kStateIdle, 100);
    w.Sir(ir, kIrStatus);
    w.SdrSize(8);
    w.TdoMask(XsvfWriter::Vector(0xFF, 8));
    w.SdrTdo(XsvfWriter::Vector(0, 8), XsvfWriter::Vector(kStatusSignature | kStatusEnabled, 8));

    // The erase key is left in Pause-DR; the erase starts at the Update-DR on the way to the next
    // instruction, and the status poll retries with a growing wait until busy is gone.
    w.Comment("erase");
    w.Sir(ir, kIrErase);
    w.SdrSize(32);
    w.EndDr(1);
    w.SdrE(XsvfWriter::Vector(kEraseKey, 32));
    w.EndDr(0);
    w.Sir(ir, kIrStatus);
    w.SdrSize(8);
    w.TdoMask(XsvfWriter::Vector(0xFF, 8));
    w.RunTest(options.eraseWait);
    w.Repeat(options.erasePolls);
    w.SdrTdo(XsvfWriter::Vector(0, 8), XsvfWriter::Vector(erasedStatus, 8));
    w.Repeat(0);
    w.RunTest(0);
    w.Sdr(XsvfWriter::Vector(0, 8));

    // The first words one by one: address and data in one register, the address stepped by XSDRINC; each
    // shift captures the status, which must show no refused write.
    const uint32_t programmed = std::min(count, options.programWords);
    w.Comment("program words 0 to " + std::to_string(programmed == 0 ? 0 : programmed - 1));
    w.Sir(ir, kIrProgram);
    w.SdrSize(64);
    w.TdoMask(XsvfWriter::Vector(0xFF, 64));
    w.SetSdrMasks(XsvfWriter::Vector(uint64_t(1) << 32, 64), XsvfWriter::Vector(0xFFFFFFFFu, 64));
    uint32_t next = 0;
    if (programmed > 0) {
        w.SdrTdo(XsvfWriter::Vector(words[0], 64), XsvfWriter::Vector(erasedStatus, 64));
        next = 1;
    }
    while (next < programmed) {
        const uint32_t more = std::min<uint32_t>(255, programmed - next - 1);
        std::vector<XsvfBytes> data;
        for (uint32_t i = 1; i <= more; ++i)
            data.push_back(XsvfWriter::Vector(words[next + i], 32));
        w.SdrInc(XsvfWriter::Vector(uint64_t(next) << 32 | words[next], 64), data);
        next += more + 1;
    }

    // The rest in bursts: the address pointer must stand where the last block ended, then whole chunks of
    // words are shifted in one pass through Shift-DR.
    uint32_t sdrBits = 0;
    for (uint32_t block = programmed; block < count; block += options.blockWords) {
        const uint32_t blockEnd = std::min(count, block + options.blockWords);
        w.Comment("burst words " + std::to_string(block) + " to " + std::to_string(blockEnd - 1));
        w.Sir(ir, kIrAddress);
        w.SdrSize(32);
        w.TdoMask(XsvfWriter::Vector(0xFFFFFFFFu, 32));
        w.SdrTdo(XsvfWriter::Vector(block, 32), XsvfWriter::Vector(block, 32));
        w.Sir(ir, kIrBurst);
        sdrBits = 0;
        for (uint32_t chunk = block; chunk < blockEnd; chunk += options.chunkWords) {
            const uint32_t n = std::min(options.chunkWords, blockEnd - chunk);
            if (n * 32 != sdrBits) {
                sdrBits = n * 32;
                w.SdrSize(sdrBits);
            }
            const XsvfBytes tdi = XsvfWriter::Words(&words[chunk], n);
            if (chunk + n == blockEnd)
                w.SdrE(tdi);
            else if (chunk == block)
                w.SdrB(tdi);
            else
                w.SdrC(tdi);
        }
    }

    w.Comment("check the status");
    w.Sir(ir, kIrStatus);
    w.SdrSize(8);
    w.TdoMask(XsvfWriter::Vector(0xFF, 8));
    w.SdrTdo(XsvfWriter::Vector(0, 8), XsvfWriter::Vector(erasedStatus, 8));

    // Read-back: the pointer must have reached the end (every word written), then the words from 0 on.
    w.Comment("verify");
    w.Sir(ir, kIrAddress);
    w.SdrSize(32);
    w.TdoMask(XsvfWriter::Vector(0xFFFFFFFFu, 32));
    w.SdrTdo(XsvfWriter::Vector(0, 32), XsvfWriter::Vector(count, 32));
    w.Sir(ir, kIrRead);
    sdrBits = 0;
    for (uint32_t chunk = 0; chunk < count; chunk += options.chunkWords) {
        const uint32_t n = std::min(options.chunkWords, count - chunk);
        if (n * 32 != sdrBits) {
            sdrBits = n * 32;
            w.SdrSize(sdrBits);
            w.TdoMask(XsvfBytes(n * 4, 0xFF));
        }
        w.SdrTdo(XsvfBytes(n * 4, 0), XsvfWriter::Words(&words[chunk], n));
    }

    w.Comment("leave configuration mode");
    w.Sir2(ir, kIrDone);
    w.Sir(ir, kIrStatus);
    w.SdrSize(8);
    w.TdoMask(XsvfWriter::Vector(0xFF & ~kStatusErased, 8));
    w.SdrTdo(XsvfWriter::Vector(0, 8), XsvfWriter::Vector(kStatusSignature, 8));
    w.Complete();
    stream = w.Stream();
    return true;
}

} // namespace sim
