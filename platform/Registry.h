// HKEY_LOCAL_MACHINE, by key path, with the Win32 error values its calls return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// Win32 error values the logic looks at.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;

enum class RegType : uint32_t { None = 0, String = 1, Dword = 4 };

struct RegValue {
    RegType type = RegType::None;
    std::string data; // raw bytes as stored
    // Bytes that must be stored exactly as they are (a file kept as a string value): the Win32 call would
    // otherwise add the null that follows the data when the data does not end in one.
    bool exactBytes = false;

    // A string value as the wide registry calls store it: UTF-16LE with its terminating null.
    static RegValue WideString(const std::wstring& text) {
        RegValue v;
        v.type = RegType::String;
        for (wchar_t c : text) {
            const uint32_t unit = static_cast<uint32_t>(c) & 0xFFFF;
            v.data.push_back(static_cast<char>(unit & 0xFF));
            v.data.push_back(static_cast<char>(unit >> 8));
        }
        v.data.append(2, '\0');
        return v;
    }
    static RegValue Dword(uint32_t value) {
        RegValue v;
        v.type = RegType::Dword;
        for (int i = 0; i < 4; ++i)
            v.data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        return v;
    }
};

// HKEY_LOCAL_MACHINE only; key paths are relative to it ("SOFTWARE\\..."). Keys are opened and closed
// inside each call, so no key handle reaches the logic.
class Registry {
public:
    virtual ~Registry() = default;
    virtual long CreateKey(const std::wstring& path, bool view32 = false) = 0;
    virtual bool KeyExists(const std::wstring& path, bool view32 = false) = 0;
    // Reads a value into a buffer of maxBytes: kErrorMoreData when it does not fit, kErrorFileNotFound when
    // the key or value is absent. The output is left untouched on failure.
    virtual long QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes,
                            RegValue& out, bool view32 = false) = 0;
    virtual long SetValue(const std::wstring& path, const std::wstring& name, const RegValue& value,
                          bool view32 = false) = 0;
    virtual long DeleteValue(const std::wstring& path, const std::wstring& name, bool view32 = false) = 0;
    virtual long DeleteKey(const std::wstring& path, bool view32 = false) = 0;
};

} // namespace plat
