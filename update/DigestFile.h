// Digest files: the text companion of an update file or flash image that holds its expected MD5 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

// The expected digest held in a digest file's bytes. Lines end in CR LF or LF (a CR not followed by LF is
// an ordinary character); lines beginning with '/' are skipped; the first other line gives the digest:
// everything before its first space, or the whole line when it has none (a tab does not end it). Empty text
// when that line is empty or when no such line exists. Never reads outside [data, data + size).
std::string ExpectedDigestFromBytes(const uint8_t* data, size_t size);

// Reads the digest file named by a narrow path and returns its expected digest; empty text when the file
// cannot be read.
std::string ReadExpectedDigest(plat::FileSystem& files, const std::string& path);
