// MD5 over arbitrary bytes, split at an arbitrary point, against a second implementation of RFC 1321 written
// here from the RFC's description alone (a bit string padded to 448 mod 512, four rounds of sixteen steps
// with the sine table computed at start-up), so that a shared mistake cannot hide.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/Md5.h"

namespace {

struct SineTable {
    uint32_t t[64];
    SineTable() {
        for (int i = 0; i < 64; ++i)
            t[i] = static_cast<uint32_t>(
                std::floor(std::fabs(std::sin(static_cast<double>(i + 1))) * 4294967296.0));
    }
};

uint32_t Rotate(uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

std::string ReferenceMd5(const uint8_t* data, size_t size) {
    static const SineTable sine;
    static const unsigned shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    std::vector<uint8_t> message(data, data + size);
    message.push_back(0x80);
    while (message.size() % 64 != 56)
        message.push_back(0);
    const uint64_t bits = static_cast<uint64_t>(size) * 8;
    for (int i = 0; i < 8; ++i)
        message.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t block = 0; block < message.size(); block += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            const uint8_t* p = &message[block + 4 * static_cast<size_t>(i)];
            x[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            uint32_t f = 0;
            int k = 0;
            switch (round) {
            case 0:
                f = (b & c) | (~b & d);
                k = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                k = (1 + 5 * i) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                k = (5 + 3 * i) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                k = (7 * i) % 16;
                break;
            }
            const uint32_t next = b + Rotate(a + f + x[k] + sine.t[i], shifts[round][i % 4]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    }
    std::string hex;
    for (uint32_t word : state) {
        for (int i = 0; i < 4; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned>((word >> (8 * i)) & 0xFF));
            hex += byte;
        }
    }
    return hex;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string expected = ReferenceMd5(data, size);
    if (Md5Hex(data, size) != expected)
        std::abort();
    // The same bytes absorbed in two pieces, split where the first byte says.
    if (size > 0) {
        const size_t split = data[0] % (size + 1);
        CMd5 md5;
        md5.Update(data, split);
        md5.Update(data + split, size - split);
        md5.Final();
        if (md5.HexText() != expected)
            std::abort();
    }
    return 0;
}
