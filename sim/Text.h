// Small text helpers shared by the simulated machine: UTF-8 conversion that never fails, Windows-style
// case folding for key and variable names, number parsing for the description, escaping for stored names.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// UTF-8 <-> wide text. Invalid input (bad bytes, surrogates, out-of-range code points) becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Upper-cases ASCII and Latin-1 letters, which covers the names the program uses; other characters stay.
std::wstring FoldCase(const std::wstring& text);
std::string FoldCaseAscii(const std::string& text);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

std::string Trim(const std::string& text);

// Parses decimal or 0x-prefixed hexadecimal unsigned numbers; false on anything else or overflow.
bool ParseU64(const std::string& text, uint64_t& value);
bool ParseU32(const std::string& text, uint32_t& value);
// "1", "yes", "true", "on" / "0", "no", "false", "off" (any case).
bool ParseBool(const std::string& text, bool& value);
std::string Hex(uint64_t value, int digits);

// Quoted form of a string with \\, \", \n, \r, \t and \xNN escapes for control bytes; the reverse gives
// false on malformed input.
std::string Quote(const std::string& text);
bool Unquote(const std::string& quoted, std::string& text);

std::string HexBytes(const std::string& bytes);
bool ParseHexBytes(const std::string& hex, std::string& bytes);

// Decodes bytes as UTF-16LE when they look like it (even length, a terminating or no null, no invalid
// surrogates, every other byte mostly zero for Latin text); false otherwise.
bool DecodeUtf16Le(const std::string& bytes, std::wstring& text);
// Encodes wide text as UTF-16LE bytes, with a terminating null when asked (as a REG_SZ is stored).
std::string EncodeUtf16Le(const std::wstring& text, bool withNull);

} // namespace sim
