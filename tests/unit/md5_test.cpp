#include "update/Md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// OpenSSL's MD5 as the oracle, as lowercase hexadecimal text.
std::string OpenSslMd5Hex(const uint8_t* data, size_t size) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(1, EVP_Digest(data, size, md, &length, EVP_md5(), nullptr));
    std::string text;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", md[i]);
        text += pair;
    }
    return text;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t start) {
    std::mt19937 random(start);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = uint8_t(random());
    return bytes;
}

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        const char* input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.digest, Md5Hex(c.input, std::string(c.input).size())) << '"' << c.input << '"';
    }
}

TEST(Md5, TextIsEmptyUntilFinalizedAndFinalIsKept) {
    CMd5 md5;
    md5.Update("abc", 3);
    EXPECT_EQ("", md5.HexText());
    md5.Final();
    md5.Final();
    md5.Update("more", 4); // ignored once finalized
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", md5.HexText());
    md5.Init();
    EXPECT_EQ("", md5.HexText());
    md5.Final();
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", md5.HexText());
}

TEST(Md5, MatchesOpenSslForEveryLengthUpTo1000) {
    const std::vector<uint8_t> bytes = RandomBytes(1000, 1321);
    for (size_t length = 0; length <= bytes.size(); ++length) {
        ASSERT_EQ(OpenSslMd5Hex(bytes.data(), length), Md5Hex(bytes.data(), length)) << "length " << length;
    }
}

TEST(Md5, MatchesOpenSslWhenFedInUnevenChunks) {
    // Chunk sizes around the 64-byte block and the 56-byte padding boundary, plus large ones.
    const size_t chunkSizes[] = {1, 3, 55, 56, 57, 63, 64, 65, 127, 128, 129, 1000, 4093, 65536, 1 << 20};
    const std::vector<uint8_t> bytes = RandomBytes(3 * 1024 * 1024 + 17, 7);
    const std::string expected = OpenSslMd5Hex(bytes.data(), bytes.size());
    for (size_t first : chunkSizes) {
        CMd5 md5;
        size_t offset = 0;
        size_t chunk = first;
        // Alternate the chosen size with odd sizes so that block boundaries fall everywhere.
        for (int i = 0; offset < bytes.size(); ++i) {
            const size_t take = std::min(bytes.size() - offset, i % 2 == 0 ? chunk : size_t(7 + i % 61));
            md5.Update(bytes.data() + offset, take);
            offset += take;
        }
        md5.Final();
        EXPECT_EQ(expected, md5.HexText()) << "chunk " << first;
    }
    EXPECT_EQ(expected, Md5Hex(bytes.data(), bytes.size()));
}

} // namespace
