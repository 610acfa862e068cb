// Arbitrary bytes as the values a run keeps across restarts, and as the command line it registers:
// - a string value of any length and content (odd, without a null, larger than the read buffer) is read
//   as its UTF-16 text up to the first null, or refused when it does not fit, never past its bytes;
// - any transcript stored for the final pass reads back whole as what was stored, so the final pass always
//   happens;
// - any settings file stored as "Config" comes back byte for byte, also through the simulated machine's
//   registry file;
// - the registered command line names the program first, and registering it again changes nothing (the
//   resumed run registers its own line the same way).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/RegisteredCommandLine.h"
#include "app/RegistryText.h"
#include "app/ResumeState.h"
#include "fakes/FakeRegistry.h"
#include "sim/Registry.h"

namespace {

std::wstring Widen(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(
            static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
    return text;
}

void CheckStringReader(const std::string& bytes) {
    FakeRegistry registry;
    registry.CreateKey(kProgramKey, true);
    plat::RegValue value;
    value.type = plat::RegType::String;
    value.data = bytes;
    registry.SetValue(kProgramKey, L"Restore", value, true);
    std::wstring text = L"untouched";
    const bool read = ReadRegistryString(registry, kProgramKey, L"Restore", text, true);
    if (read != (bytes.size() <= kRegistryStringBufferBytes))
        std::abort();
    if (!read) {
        if (text != L"untouched")
            std::abort();
        return;
    }
    std::wstring expected = Widen(bytes);
    expected = expected.substr(0, expected.find(L'\0'));
    if (text != expected)
        std::abort();
}

void CheckStoredValues(const std::string& bytes) {
    FakeRegistry registry;
    CResumeState state(registry);
    const std::wstring transcript = Widen(bytes);
    state.WriteFinalPass(transcript, L"restore", L"run once");
    std::wstring log;
    std::wstring stored = StorableTranscript(transcript);
    stored = stored.substr(0, stored.find(L'\0'));
    if (!state.ReadLog(log) || log != stored)
        std::abort();

    state.WriteDriverRestart(L"run once", &bytes);
    std::string config;
    if (state.ReadConfig(config) != !bytes.empty() || (!bytes.empty() && config != bytes))
        std::abort();

    // The same value through the simulated registry's file format.
    if (bytes.size() > 65536)
        return;
    sim::RegTree tree;
    sim::RegKey& key = tree[L"SOFTWARE"];
    key.path = L"SOFTWARE";
    key.values[L"CONFIG"] = sim::RegEntry{L"Config", sim::kRegSz, bytes};
    const sim::RegTree back = sim::RegistryStore::Parse(sim::RegistryStore::Format(tree));
    if (back.size() != 1 || back.begin()->second.values.size() != 1 ||
        back.begin()->second.values.begin()->second.data != bytes)
        std::abort();
}

std::wstring FullPath(const std::wstring& path) {
    const bool absolute = (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') ||
                          (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\');
    return absolute ? path : L"C:\\Work Folder\\" + path;
}

void CheckRegisteredLine(const std::string& bytes) {
    std::wstring line;
    for (char c : bytes)
        line.push_back(c == 0 ? L' ' : static_cast<wchar_t>(static_cast<uint8_t>(c)));
    const std::wstring module = L"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe";
    const int count = bytes.empty() ? -1 : static_cast<uint8_t>(bytes[0]) % 12 - 1;
    const std::wstring once = RegisteredCommandLine(line, module, FullPath, count);
    const std::wstring head = L"\"" + module + L"\"";
    if (once.compare(0, head.size(), head) != 0)
        std::abort();
    if (RegisteredCommandLine(once, module, FullPath, count) != once)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // One input in eight is repeated past the read buffer and the stored transcript's limit.
    std::string large = bytes;
    if (!bytes.empty() && (bytes[0] & 7) == 7) {
        large.reserve(kRegistryStringBufferBytes + 2 * bytes.size());
        while (large.size() <= kRegistryStringBufferBytes + 4)
            large += bytes;
    }
    CheckStringReader(large);
    CheckStoredValues(large);
    CheckRegisteredLine(bytes);
    return 0;
}
