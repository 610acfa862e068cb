// MD5 message digest (RFC 1321), used to check update files against their companion digest files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One MD5 computation: Init, any number of Update calls, Final, then Digest()/HexText().
class CMd5 {
public:
    CMd5() { Init(); }

    // Starts a new computation; also makes a finalized context usable again.
    void Init();
    // Absorbs bytes. Ignored once the context is finalized.
    void Update(const void* data, size_t size);
    // Pads, absorbs the bit count and stores the digest. A second call changes nothing.
    void Final();

    bool Finalized() const { return finalized_; }
    // The 16 digest bytes; all zero before Final.
    const uint8_t* Digest() const { return digest_; }
    // 32 lowercase hexadecimal characters, two per digest byte in order; empty text before Final.
    std::string HexText() const;

private:
    uint32_t state_[4];
    uint64_t bitCount_;
    uint8_t buffer_[64];
    uint8_t digest_[16];
    bool finalized_;
};

// The lowercase hexadecimal MD5 text of a byte string, in one call.
std::string Md5Hex(const void* data, size_t size);
