// The firmware image of the Q740's FPGA: a bitstream file (".bit": a short header of tagged fields, then the
// configuration data) whose configuration data begins with the 52-byte start marker. Right after the marker
// our images carry a 16-byte information block:
//
//   offset 52  "VSKF"                      tag
//   offset 56  major, minor, build         the firmware version
//   offset 59  1                           layout revision of this block
//   offset 60  payload length              big-endian, bytes that follow the block
//   offset 64  payload CRC-32              big-endian, the usual reflected CRC-32 (polynomial 0xEDB88320)
//   offset 68  payload
//
// The FPGA loads an image only when all of this holds; bytes after the payload (padding) are ignored.
// Plain standard C++: also built into the Windows stand-in libraries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr size_t kBitstreamMarkerSize = 52;
extern const uint8_t kBitstreamMarker[kBitstreamMarkerSize];

constexpr size_t kFirmwareInfoSize = 16;
constexpr size_t kFirmwareHeaderSize = kBitstreamMarkerSize + kFirmwareInfoSize; // 68

struct FirmwareVersion {
    uint8_t major = 0, minor = 0, build = 0;
    bool operator==(const FirmwareVersion& o) const {
        return major == o.major && minor == o.minor && build == o.build;
    }
    bool operator!=(const FirmwareVersion& o) const { return !(*this == o); }
};

// "1.7.2"; and back, each part 0..255.
std::string FormatVersion(const FirmwareVersion& version);
bool ParseVersion(const std::string& text, FirmwareVersion& version);

uint32_t Crc32(const uint8_t* data, size_t size);

// The position of the first complete start marker in `data`; false when there is none.
bool FindBitstreamMarker(const uint8_t* data, size_t size, size_t& position);

enum class ImageCheck { Ok, NoMarker, BadTag, BadLength, BadChecksum };
const char* ImageCheckText(ImageCheck check);

// Checks configuration data that begins at the marker (as the FPGA's store holds it) and reads its version.
ImageCheck CheckConfigData(const uint8_t* data, size_t size, FirmwareVersion& version);
// The same for a whole bitstream file: finds the marker first; `dataOffset` is where the data begins.
ImageCheck CheckBitstreamFile(const uint8_t* data, size_t size, FirmwareVersion& version, size_t& dataOffset);

// A deterministic firmware image file: the bitstream header, the marker, the information block and
// `dataSize` - 68 bytes of payload (`dataSize` is rounded up to whole 32-bit words, at least 72).
std::vector<uint8_t> MakeFirmwareFile(const FirmwareVersion& version, size_t dataSize);

} // namespace sim
