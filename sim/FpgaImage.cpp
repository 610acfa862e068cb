#include "sim/FpgaImage.h"

#include <cstring>

namespace sim {

const uint8_t kBitstreamMarker[kBitstreamMarkerSize] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xBB, 0x11, 0x22, 0x00,
    0x44, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66,
};

namespace {

const uint8_t kInfoTag[4] = {'V', 'S', 'K', 'F'};
constexpr uint8_t kInfoRevision = 1;

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutBe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

// One tagged header field of a bitstream file: key, 16-bit length, text with its terminating zero.
void PutField(std::vector<uint8_t>& out, char key, const std::string& text) {
    out.push_back(uint8_t(key));
    const size_t length = text.size() + 1;
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

} // namespace

std::string FormatVersion(const FirmwareVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build);
}

bool ParseVersion(const std::string& text, FirmwareVersion& version) {
    uint32_t parts[3] = {0, 0, 0};
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        size_t digits = 0;
        uint32_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + uint32_t(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return false;
        parts[i] = value;
        if (i < 2) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
    }
    if (pos != text.size())
        return false;
    version.major = uint8_t(parts[0]);
    version.minor = uint8_t(parts[1]);
    version.build = uint8_t(parts[2]);
    return true;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    static uint32_t table[256];
    static const bool ready = [] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool FindBitstreamMarker(const uint8_t* data, size_t size, size_t& position) {
    if (size < kBitstreamMarkerSize)
        return false;
    for (size_t i = 0; i + kBitstreamMarkerSize <= size; ++i) {
        if (std::memcmp(data + i, kBitstreamMarker, kBitstreamMarkerSize) == 0) {
            position = i;
            return true;
        }
    }
    return false;
}

const char* ImageCheckText(ImageCheck check) {
    switch (check) {
    case ImageCheck::Ok:
        return "ok";
    case ImageCheck::NoMarker:
        return "no bitstream start marker";
    case ImageCheck::BadTag:
        return "no firmware information block after the marker";
    case ImageCheck::BadLength:
        return "payload length beyond the end of the data";
    case ImageCheck::BadChecksum:
        return "payload checksum mismatch";
    }
    return "?";
}

ImageCheck CheckConfigData(const uint8_t* data, size_t size, FirmwareVersion& version) {
    if (size < kBitstreamMarkerSize || std::memcmp(data, kBitstreamMarker, kBitstreamMarkerSize) != 0)
        return ImageCheck::NoMarker;
    if (size < kFirmwareHeaderSize)
        return ImageCheck::BadTag;
    const uint8_t* info = data + kBitstreamMarkerSize;
    if (std::memcmp(info, kInfoTag, 4) != 0 || info[7] != kInfoRevision)
        return ImageCheck::BadTag;
    const uint32_t length = Be32(info + 8);
    if (length > size - kFirmwareHeaderSize)
        return ImageCheck::BadLength;
    if (Crc32(data + kFirmwareHeaderSize, length) != Be32(info + 12))
        return ImageCheck::BadChecksum;
    version.major = info[4];
    version.minor = info[5];
    version.build = info[6];
    return ImageCheck::Ok;
}

ImageCheck CheckBitstreamFile(const uint8_t* data, size_t size, FirmwareVersion& version,
                              size_t& dataOffset) {
    size_t position = 0;
    if (!FindBitstreamMarker(data, size, position))
        return ImageCheck::NoMarker;
    dataOffset = position;
    return CheckConfigData(data + position, size - position, version);
}

std::vector<uint8_t> MakeFirmwareFile(const FirmwareVersion& version, size_t dataSize) {
    if (dataSize < kFirmwareHeaderSize + 4)
        dataSize = kFirmwareHeaderSize + 4;
    dataSize = (dataSize + 3) & ~size_t(3);
    const size_t payloadSize = dataSize - kFirmwareHeaderSize;

    // The payload: configuration-like words from a fixed generator, about a quarter of them zero, as frame
    // data tends to be; the same version and size always give the same bytes.
    std::vector<uint8_t> payload;
    payload.reserve(payloadSize);
    uint32_t state =
        0x9E3779B9u ^ (uint32_t(version.major) << 16 | uint32_t(version.minor) << 8 | version.build);
    while (payload.size() < payloadSize) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const uint32_t word = (state & 0x300) == 0 ? 0 : state;
        for (int shift = 24; shift >= 0 && payload.size() < payloadSize; shift -= 8)
            payload.push_back(uint8_t(word >> shift));
    }

    std::vector<uint8_t> file = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    PutField(file, 'a', "vsk_q740_top;UserID=0xFFFFFFFF;Version=" + FormatVersion(version));
    PutField(file, 'b', "vq740");
    PutField(file, 'c', "2026/01/15");
    PutField(file, 'd', "12:00:00");
    file.push_back('e');
    PutBe32(file, uint32_t(dataSize));
    file.insert(file.end(), kBitstreamMarker, kBitstreamMarker + kBitstreamMarkerSize);
    file.insert(file.end(), kInfoTag, kInfoTag + 4);
    file.push_back(version.major);
    file.push_back(version.minor);
    file.push_back(version.build);
    file.push_back(kInfoRevision);
    PutBe32(file, uint32_t(payloadSize));
    PutBe32(file, Crc32(payload.data(), payload.size()));
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
}

} // namespace sim
