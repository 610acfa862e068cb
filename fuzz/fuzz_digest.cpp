// Feeds arbitrary bytes to the digest-file reader and compares it with a plain line-splitting version of the
// same rules; the sanitizers catch any read outside the input.
#include "update/DigestFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string ReferenceDigest(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (lf != std::string::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] != '/')
            return line.substr(0, line.find(' '));
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught even when the fuzzer's buffer is larger.
    const std::vector<uint8_t> bytes(data, data + size);
    const std::string digest = ExpectedDigestFromBytes(bytes.data(), bytes.size());
    if (digest != ReferenceDigest(std::string(bytes.begin(), bytes.end())))
        std::abort();
    return 0;
}
