#include "platform/sim/SimService.h"

#include <cstdio>

#include "sim/Files.h"
#include "sim/Registry.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"
#include "sim/WindowsSide.h"

namespace plat::simbackend {

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

struct Payload {
    const char* name;
    const char* text;
};

const Payload kPayloads[] = {
    {"VSKLIB32", "Stand-in image of the 32-bit hardware-access library VskVxdSC.dll\r\n"},
    {"VSKLIB64", "Stand-in image of the 64-bit hardware-access library VskVxdSC.dll\r\n"},
    {"VSKSYS32", "Stand-in image of the 32-bit kernel driver VskVxdSC.sys\r\n"},
    {"VSKSYS64", "Stand-in image of the 64-bit kernel driver VskVxdSC.sys\r\n"},
    {"VSKUNINST", "Stand-in image of the uninstaller VskVxdSCUninstall.exe\r\n"},
};

// A REG_MULTI_SZ value as its strings; empty strings inside are kept (a delete has an empty target).
std::vector<std::wstring> MultiStrings(const std::string& data) {
    std::wstring all;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        all += static_cast<wchar_t>(static_cast<unsigned char>(data[i]) |
                                    static_cast<unsigned char>(data[i + 1]) << 8);
    if (!all.empty() && all.back() == L'\0')
        all.pop_back();
    std::vector<std::wstring> strings;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos)
            end = all.size();
        strings.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return strings;
}

std::string HostPath(const std::string& dir, const std::wstring& ntPath) {
    std::wstring path = ntPath;
    if (path.rfind(L"\\??\\", 0) == 0)
        path = path.substr(4);
    return sim::MapPathForChange(dir, sim::ToUtf8(path));
}

} // namespace

bool PrepareMachineFiles(const std::string& dir, const sim::MachineDescription& machine, std::string& error) {
    const std::string resources = dir + "/resources";
    if (!sim::MakeDirectories(resources) ||
        !sim::MakeDirectories(sim::MapPath(dir, "C:\\Windows\\System32\\drivers"))) {
        error = "cannot create the folders of " + dir;
        return false;
    }
    for (const Payload& payload : kPayloads) {
        std::string bytes = payload.text;
        const uint32_t length = static_cast<uint32_t>(bytes.size());
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(length >> (8 * i));
        if (!sim::WriteFileAtomic(resources + "/" + payload.name, bytes)) {
            error = "cannot write " + resources + "/" + payload.name;
            return false;
        }
    }
    // The driver tools the program carries, as they are (no length follows them).
    for (const bool x64 : {false, true}) {
        const std::string name = x64 ? "DEVCON64" : "DEVCON32";
        if (!sim::WriteFileAtomic(resources + "/" + name, sim::DriverToolImage(x64))) {
            error = "cannot write " + resources + "/" + name;
            return false;
        }
    }
    sim::WindowsSide side;
    return sim::ReadWindowsSide(machine, side, error) && sim::InstallWindowsSide(dir, side, error);
}

bool RunRestartMoves(const std::string& dir, int& done, std::string& failures) {
    done = 0;
    sim::RegistryStore store(dir);
    std::vector<std::wstring> strings;
    const long status = store.Edit([&](sim::RegTree& tree) {
        const auto key = tree.find(sim::FoldCase(sim::RegistryStore::NormalizePath(kSessionManager)));
        if (key == tree.end())
            return sim::kRegSuccess;
        const auto value = key->second.values.find(sim::FoldCase(kPendingRenames));
        if (value == key->second.values.end())
            return sim::kRegSuccess;
        strings = MultiStrings(value->second.data);
        key->second.values.erase(value);
        return sim::kRegSuccess;
    });
    if (status != sim::kRegSuccess)
        return false;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        const std::string from = HostPath(dir, strings[i]);
        const bool remove = strings[i + 1].empty();
        const std::string to = remove ? std::string() : HostPath(dir, strings[i + 1]);
        // A path outside the machine maps to "", which neither call accepts.
        const bool ok = remove ? std::remove(from.c_str()) == 0 : std::rename(from.c_str(), to.c_str()) == 0;
        if (ok)
            ++done;
        else
            failures += "cannot " + std::string(remove ? "delete " : "move ") + sim::ToUtf8(strings[i]) +
                        (remove ? "" : " to " + sim::ToUtf8(strings[i + 1])) + "\n";
    }
    return true;
}

} // namespace plat::simbackend
