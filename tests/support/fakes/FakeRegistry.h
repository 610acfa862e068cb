// An in-memory HKEY_LOCAL_MACHINE: keys by path (case-insensitive), values with type and raw bytes, and
// switches that make writes fail.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/Platform.h"

class FakeRegistry : public plat::Registry {
public:
    static std::wstring Fold(const std::wstring& s) {
        std::wstring out = s;
        for (wchar_t& c : out) {
            if (c >= L'A' && c <= L'Z')
                c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        return out;
    }
    long CreateKey(const std::wstring& path, bool view32) override {
        if (failCreate)
            return plat::kErrorAccessDenied;
        keys.insert(Fold(path));
        lastView32 = view32;
        return plat::kErrorSuccess;
    }
    bool KeyExists(const std::wstring& path, bool) override { return keys.count(Fold(path)) != 0; }
    long QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes, plat::RegValue& out,
                    bool) override {
        auto it = values.find({Fold(path), Fold(name)});
        if (it == values.end())
            return plat::kErrorFileNotFound;
        if (it->second.data.size() > maxBytes)
            return plat::kErrorMoreData;
        out = it->second;
        return plat::kErrorSuccess;
    }
    long SetValue(const std::wstring& path, const std::wstring& name, const plat::RegValue& value,
                  bool view32) override {
        if (failSetValue || !keys.count(Fold(path)))
            return plat::kErrorAccessDenied;
        values[{Fold(path), Fold(name)}] = value;
        lastView32 = view32;
        return plat::kErrorSuccess;
    }
    long DeleteValue(const std::wstring& path, const std::wstring& name, bool) override {
        return values.erase({Fold(path), Fold(name)}) ? plat::kErrorSuccess : plat::kErrorFileNotFound;
    }
    long DeleteKey(const std::wstring& path, bool) override {
        const std::wstring key = Fold(path);
        for (auto it = values.begin(); it != values.end();)
            it = it->first.first == key ? values.erase(it) : std::next(it);
        return keys.erase(key) ? plat::kErrorSuccess : plat::kErrorFileNotFound;
    }

    // The value's text when it is a UTF-16LE string with its null; empty otherwise.
    std::wstring StringValue(const std::wstring& path, const std::wstring& name) const {
        auto it = values.find({Fold(path), Fold(name)});
        if (it == values.end() || it->second.type != plat::RegType::String)
            return L"";
        std::wstring text;
        const std::string& d = it->second.data;
        for (size_t i = 0; i + 1 < d.size(); i += 2) {
            const wchar_t c =
                static_cast<wchar_t>(static_cast<uint8_t>(d[i]) | static_cast<uint8_t>(d[i + 1]) << 8);
            if (c == 0)
                break;
            text.push_back(c);
        }
        return text;
    }

    std::set<std::wstring> keys;
    std::map<std::pair<std::wstring, std::wstring>, plat::RegValue> values;
    bool failCreate = false;
    bool failSetValue = false;
    bool lastView32 = false;
};
