#include "update/DigestFile.h"

#include <cstring>
#include <vector>

std::string ExpectedDigestFromBytes(const uint8_t* data, size_t size) {
    if (data == nullptr)
        return std::string();
    const char* p = reinterpret_cast<const char*>(data);
    const char* const end = p + size;
    while (p != end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = lf != nullptr ? lf : end;
        // The CR of a CR LF pair belongs to the line end.
        if (lf != nullptr && lineEnd != p && lineEnd[-1] == '\r')
            --lineEnd;
        if (lineEnd != p && *p == '/') {
            if (lf == nullptr)
                break;
            p = lf + 1;
            continue;
        }
        const char* space = static_cast<const char*>(std::memchr(p, ' ', size_t(lineEnd - p)));
        return std::string(p, space != nullptr ? space : lineEnd);
    }
    return std::string();
}

std::string ReadExpectedDigest(plat::FileSystem& files, const std::string& path) {
    std::vector<uint8_t> bytes;
    if (files.ReadWhole(path, bytes) != plat::ReadStatus::Ok)
        return std::string();
    return ExpectedDigestFromBytes(bytes.data(), bytes.size());
}
