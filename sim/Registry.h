// The HKEY_LOCAL_MACHINE tree of a simulated machine, kept in "DIR/registry.txt".
//
// File format (UTF-8 text, one entry a line, names quoted with C escapes, data as lowercase hex of the raw
// bytes):
//   key "SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater"
//   value "Log" sz 48006900000000
//   value "Validate" dword 02000000
// Types are written "sz" (1), "dword" (4) or as a decimal number. Every change takes an flock on
// "DIR/registry.lock", reads the file afresh, applies the change and replaces the file atomically (temp file,
// fsync, rename), so two processes never lose each other's writes and a crash leaves the old or the new
// tree. Reads take no lock. Key paths and value names compare without case; their first spelling is kept.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Win32 error values as the registry returns them.
constexpr long kRegSuccess = 0;
constexpr long kRegNotFound = 2;
constexpr long kRegAccessDenied = 5;
constexpr long kRegMoreData = 234;
constexpr long kRegWriteFault = 29; // the store could not be written

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;

struct RegEntry {
    std::wstring name;
    uint32_t type = 0;
    std::string data;
};

struct RegKey {
    std::wstring path;                       // as first created
    std::map<std::wstring, RegEntry> values; // by folded name
};

using RegTree = std::map<std::wstring, RegKey>; // by folded path

class RegistryStore {
public:
    explicit RegistryStore(std::string dir) : dir_(std::move(dir)) {}

    // Creates the key and every missing key above it.
    long CreateKey(const std::wstring& path);
    bool KeyExists(const std::wstring& path) const;
    // kRegMoreData when the data is longer than maxBytes; type and data are left untouched on failure.
    long QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes, uint32_t& type,
                    std::string& data) const;
    // The key must exist (as with a key opened first on Windows).
    long SetValue(const std::wstring& path, const std::wstring& name, uint32_t type, const std::string& data);
    long DeleteValue(const std::wstring& path, const std::wstring& name);
    // Fails with kRegAccessDenied while the key has subkeys, as RegDeleteKey does.
    long DeleteKey(const std::wstring& path);

    // Applies a change to the whole tree under the lock, e.g. to extend a value atomically; the tree is
    // written back only when the change returns kRegSuccess.
    long Edit(const std::function<long(RegTree&)>& change);

    RegTree Load() const;

    static std::wstring NormalizePath(const std::wstring& path);
    static std::string Format(const RegTree& tree);
    static RegTree Parse(const std::string& text);

private:
    template <class Change> long Modify(Change change);

    std::string dir_;
};

} // namespace sim
