#include "sim/Registry.h"

#include <sstream>

#include "sim/Files.h"
#include "sim/Text.h"

namespace sim {

namespace {

std::string TypeName(uint32_t type) {
    if (type == kRegSz)
        return "sz";
    if (type == kRegDword)
        return "dword";
    return std::to_string(type);
}

bool ParseType(const std::string& text, uint32_t& type) {
    if (text == "sz") {
        type = kRegSz;
        return true;
    }
    if (text == "dword") {
        type = kRegDword;
        return true;
    }
    return ParseU32(text, type);
}

// Splits `key "quoted" rest` style lines: the quoted token may contain blanks.
bool TakeQuoted(const std::string& line, size_t& pos, std::string& text) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    size_t end = pos + 1;
    while (end < line.size() && line[end] != '"')
        end += line[end] == '\\' ? 2u : 1u;
    if (end >= line.size())
        return false;
    if (!Unquote(line.substr(pos, end + 1 - pos), text))
        return false;
    pos = end + 1;
    return true;
}

bool HasSubkeys(const RegTree& tree, const std::wstring& folded) {
    const std::wstring prefix = folded + L"\\";
    const auto it = tree.lower_bound(prefix);
    return it != tree.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::wstring RegistryStore::NormalizePath(const std::wstring& path) {
    std::wstring out;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find(L'\\', pos);
        if (end == std::wstring::npos)
            end = path.size();
        if (end > pos)
            out += (out.empty() ? L"" : L"\\") + path.substr(pos, end - pos);
        pos = end + 1;
    }
    return out;
}

std::string RegistryStore::Format(const RegTree& tree) {
    std::string out = "# HKEY_LOCAL_MACHINE of a simulated machine (q740sim reg shows it)\n";
    for (const auto& [folded, key] : tree) {
        out += "key " + Quote(ToUtf8(key.path)) + "\n";
        for (const auto& [name, value] : key.values)
            out += "  value " + Quote(ToUtf8(value.name)) + " " + TypeName(value.type) + " " +
                   HexBytes(value.data) + "\n";
    }
    return out;
}

RegTree RegistryStore::Parse(const std::string& text) {
    RegTree tree;
    RegKey* current = nullptr;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        std::string name;
        size_t pos = 0;
        if (line.rfind("key ", 0) == 0) {
            pos = 4;
            current = nullptr;
            if (!TakeQuoted(line, pos, name))
                continue;
            const std::wstring path = NormalizePath(FromUtf8(name));
            RegKey& key = tree[FoldCase(path)];
            if (key.path.empty())
                key.path = path;
            current = &key;
        } else if (line.rfind("value ", 0) == 0 && current) {
            pos = 6;
            if (!TakeQuoted(line, pos, name))
                continue;
            std::istringstream rest(line.substr(pos));
            std::string type, hex;
            RegEntry entry;
            rest >> type >> hex;
            if (!ParseType(type, entry.type) || !ParseHexBytes(hex, entry.data))
                continue;
            entry.name = FromUtf8(name);
            current->values[FoldCase(entry.name)] = entry;
        }
    }
    return tree;
}

RegTree RegistryStore::Load() const {
    std::string text;
    if (!ReadFile(dir_ + "/registry.txt", text))
        return {};
    return Parse(text);
}

template <class Change> long RegistryStore::Modify(Change change) {
    FileLock lock(dir_ + "/registry.lock");
    if (!lock.Held())
        return kRegWriteFault;
    RegTree tree = Load();
    const long status = change(tree);
    if (status != kRegSuccess)
        return status;
    return WriteFileAtomic(dir_ + "/registry.txt", Format(tree)) ? kRegSuccess : kRegWriteFault;
}

long RegistryStore::Edit(const std::function<long(RegTree&)>& change) {
    return Modify(change);
}

long RegistryStore::CreateKey(const std::wstring& path) {
    const std::wstring normalized = NormalizePath(path);
    if (normalized.empty() || KeyExists(normalized))
        return kRegSuccess;
    return Modify([&normalized](RegTree& tree) {
        size_t pos = 0;
        while (pos != std::wstring::npos) {
            pos = normalized.find(L'\\', pos + 1);
            const std::wstring partial = normalized.substr(0, pos);
            RegKey& key = tree[FoldCase(partial)];
            if (key.path.empty())
                key.path = partial;
        }
        return kRegSuccess;
    });
}

bool RegistryStore::KeyExists(const std::wstring& path) const {
    const std::wstring folded = FoldCase(NormalizePath(path));
    return folded.empty() || Load().count(folded) > 0;
}

long RegistryStore::QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes,
                               uint32_t& type, std::string& data) const {
    const RegTree tree = Load();
    const auto key = tree.find(FoldCase(NormalizePath(path)));
    if (key == tree.end())
        return kRegNotFound;
    const auto value = key->second.values.find(FoldCase(name));
    if (value == key->second.values.end())
        return kRegNotFound;
    if (value->second.data.size() > maxBytes)
        return kRegMoreData;
    type = value->second.type;
    data = value->second.data;
    return kRegSuccess;
}

long RegistryStore::SetValue(const std::wstring& path, const std::wstring& name, uint32_t type,
                             const std::string& data) {
    return Modify([&](RegTree& tree) {
        const auto key = tree.find(FoldCase(NormalizePath(path)));
        if (key == tree.end())
            return kRegNotFound;
        RegEntry& entry = key->second.values[FoldCase(name)];
        if (entry.name.empty())
            entry.name = name;
        entry.type = type;
        entry.data = data;
        return kRegSuccess;
    });
}

long RegistryStore::DeleteValue(const std::wstring& path, const std::wstring& name) {
    return Modify([&](RegTree& tree) {
        const auto key = tree.find(FoldCase(NormalizePath(path)));
        if (key == tree.end() || key->second.values.erase(FoldCase(name)) == 0)
            return kRegNotFound;
        return kRegSuccess;
    });
}

long RegistryStore::DeleteKey(const std::wstring& path) {
    return Modify([&](RegTree& tree) {
        const std::wstring folded = FoldCase(NormalizePath(path));
        const auto key = tree.find(folded);
        if (folded.empty() || key == tree.end())
            return kRegNotFound;
        if (HasSubkeys(tree, folded))
            return kRegAccessDenied;
        tree.erase(key);
        return kRegSuccess;
    });
}

} // namespace sim
