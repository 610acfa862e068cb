#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/VskLibrary.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"

namespace {

// Files with what the hardware-access install needs: exclusive creation that fails on files in use,
// temporary files, restart-time moves and the redirection switch, all recorded.
class InstallFiles : public FakeFileSystem {
public:
    bool CreateExclusive(const std::wstring& path, const std::string& bytes) override {
        if (inUse.count(path) ||
            (failTemp && path.find(L"vsk") != std::wstring::npos && path.find(L"Temp") != std::wstring::npos))
            return false;
        events.push_back(std::wstring(redirectionOff ? L"write(off) " : L"write ") + path);
        SetFile(path, bytes);
        return true;
    }
    bool MakeTempFile(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) override {
        path = folder + prefix + L"1A2.tmp";
        SetFile(path, std::string());
        return true;
    }
    std::wstring ShortPath(const std::wstring& path) override { return path + L"~"; }
    bool MoveAtRestart(const std::wstring& from, const std::wstring& to) override {
        if (failMove)
            return false;
        events.push_back(L"move " + from + L" -> " + to);
        return true;
    }
    bool RemoveFile(const std::wstring& path) override {
        events.push_back(L"remove " + path);
        return FakeFileSystem::RemoveFile(path);
    }
    bool DisableRedirection() override {
        if (failRedirection)
            return false;
        redirectionOff = true;
        ++disabled;
        return true;
    }
    void RevertRedirection() override {
        redirectionOff = false;
        ++reverted;
    }
    std::set<std::wstring> inUse;
    bool failTemp = false, failMove = false, redirectionOff = false, failRedirection = false;
    int disabled = 0, reverted = 0;
    std::vector<std::wstring> events;
};

// The named mutex (handle 11) and the shared mapping (handle 22), recorded.
class ServiceObjects : public FakeNamedObjects {
public:
    using WaitResult = plat::NamedMutex::WaitResult;
    uintptr_t CreateMutexHandle(const std::wstring& name) override {
        mutexName = name;
        return failMutex ? 0 : 11;
    }
    WaitResult WaitForMutex(uintptr_t, uint32_t ms) override {
        waitedMs = ms;
        return waitResult;
    }
    void ReleaseMutexHandle(uintptr_t) override { ++released; }
    uintptr_t OpenOrCreateMappingHandle(const std::wstring& name, uint32_t size, bool& created) override {
        mappingName = name;
        EXPECT_EQ(size, 8u);
        created = !mappingExists;
        mappingExists = true;
        return failMapping ? 0 : 22;
    }
    void* MapView(uintptr_t) override { return failView ? nullptr : &shared; }
    void UnmapView(void*) override { ++unmapped; }
    void CloseObject(uintptr_t h) override { closed.push_back(h); }

    tagWrapData shared{7, 7}; // garbage until a creator zeroes it
    bool mappingExists = false, failMutex = false, failMapping = false, failView = false;
    WaitResult waitResult = WaitResult::Acquired;
    std::wstring mutexName, mappingName;
    uint32_t waitedMs = 0;
    int released = 0, unmapped = 0;
    std::vector<uintptr_t> closed;
};

uint32_t FakeRead(uint32_t, uint32_t offset, void* buffer, uint32_t, uint32_t) {
    *static_cast<uint32_t*>(buffer) = offset * 2;
    return 5;
}

// The last call of one of the service's exports: which, its arguments as numbers, and the 32-bit value its
// buffer held on entry. Each export answers with a result of its own.
struct ExportCall {
    std::string name;
    std::vector<uint64_t> args;
    uint32_t buffer = 0;
};
ExportCall lastCall;

uint32_t RecordCsReadWrite(uint32_t hPci, uint32_t offset, void* buffer, uint32_t count, uint32_t direction) {
    uint32_t* value = static_cast<uint32_t*>(buffer);
    lastCall = {"csReadWrite", {hPci, offset, count, direction}, *value};
    if (direction == 0)
        *value = 0xC0DE0000u | offset;
    return 0x11;
}
uint32_t RecordMemRead(uintptr_t base, uint32_t offset, void* buffer, uint32_t count) {
    uint32_t* value = static_cast<uint32_t*>(buffer);
    lastCall = {"memRead", {base, offset, count}, *value};
    *value = 0xFEED0000u | offset;
    return 0x12;
}
uint32_t RecordMemWrite(uintptr_t base, uint32_t offset, const void* value, uint32_t count) {
    lastCall = {"memWrite", {base, offset, count}, *static_cast<const uint32_t*>(value)};
    return 0x13;
}
uintptr_t RecordMemMap64(uint32_t low, uint32_t high, uint32_t length, uint32_t flags) {
    lastCall = {"memMap64", {low, high, length, flags}, 0};
    return 0xABC000;
}
uint32_t RecordMemUnmap(uintptr_t base) {
    lastCall = {"memUnmap", {base}, 0};
    return 0x15;
}
uint32_t ScanCallback(uint32_t, void*) {
    return 0;
}
uint32_t RecordPciScanBus(VskPciScanCallback callback, void* context) {
    lastCall = {
        "pciScanBus", {reinterpret_cast<uintptr_t>(callback), reinterpret_cast<uintptr_t>(context)}, 0};
    return 0x16;
}

class FakeLibraries : public plat::Libraries {
public:
    uintptr_t LoadHandle(const std::wstring& name) override {
        ++loads;
        // Only from the system folder, never by bare name.
        EXPECT_EQ(name, L"C:\\Windows\\System32\\VskVxdSC.dll");
        return (loadable || (loadableAfterInstall && files && files->HasFile(installedPath))) ? 33 : 0;
    }
    // Every export but the missing one resolves; only csReadWrite is ever called.
    void* ResolveExport(uintptr_t, const char* symbol) override {
        ++resolves[symbol];
        if (missing == symbol)
            return nullptr;
        if (!recording)
            return reinterpret_cast<void*>(&FakeRead);
        const std::map<std::string, void*> exports = {
            {"csReadWrite", reinterpret_cast<void*>(&RecordCsReadWrite)},
            {"memRead", reinterpret_cast<void*>(&RecordMemRead)},
            {"memWrite", reinterpret_cast<void*>(&RecordMemWrite)},
            {"memMap64", reinterpret_cast<void*>(&RecordMemMap64)},
            {"memUnmap", reinterpret_cast<void*>(&RecordMemUnmap)},
            {"pciScanBus", reinterpret_cast<void*>(&RecordPciScanBus)},
        };
        return exports.at(symbol);
    }
    bool recording = false; // every export its own recording function instead of FakeRead
    void FreeHandle(uintptr_t) override { ++frees; }
    bool loadable = false, loadableAfterInstall = true;
    std::string missing;
    int frees = 0;
    InstallFiles* files = nullptr;
    std::wstring installedPath;
    int loads = 0;
    std::map<std::string, int> resolves;
};

class Payloads : public plat::Resources {
public:
    bool Find(const std::string& name, std::vector<uint8_t>& data) override {
        if (name == missing)
            return false;
        // The image is the resource name, then its length as four little-endian bytes.
        data.assign(name.begin(), name.end());
        const uint32_t n = static_cast<uint32_t>(name.size()) + (name == badLength ? 100 : 0);
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<uint8_t>(n >> (8 * i)));
        return true;
    }
    std::string missing, badLength;
};

class ArchEnvironment : public FakeEnvironment {
public:
    explicit ArchEnvironment(int& a) : arch(a) {}
    int NativeArchitecture() override { return arch; }
    int& arch;
};

struct ServiceWorld {
    FakePlatform p;
    InstallFiles files;
    FakeRegistry registry;
    ServiceObjects objects;
    FakeLibraries libraries;
    Payloads payloads;
    CVskLibrary service{p};

    int arch = 9;
    ArchEnvironment env{arch};

    ServiceWorld() {
        p.env = &env;
        p.files = &files;
        p.registry = &registry;
        p.namedObjects = &objects;
        p.libraries = &libraries;
        p.resources = &payloads;
        libraries.files = &files;
        SetWindows(true);
    }
    void SetWindows(bool win64) {
        arch = win64 ? 9 : 0;
        libraries.installedPath = L"C:\\Windows\\System32\\VskVxdSC.dll";
    }
};

struct ServiceFixture : testing::Test, ServiceWorld {};

TEST_F(ServiceFixture, AlreadyLoadingLibraryOnlyCountsAUser) {
    libraries.loadable = true;
    EXPECT_EQ(service.InitVSKLibrary(), 1);
    EXPECT_EQ(objects.mutexName, L"Global\\VskVxdSCWrapMutex");
    EXPECT_EQ(objects.mappingName, L"Global\\VskVxdSCWrapData");
    EXPECT_EQ(objects.waitedMs, 4000u);
    EXPECT_EQ(objects.shared.users, 1u); // zeroed by the creator, then counted
    EXPECT_EQ(objects.shared.installed, 0u);
    EXPECT_TRUE(files.events.empty());
    EXPECT_TRUE(registry.keys.empty());
    EXPECT_EQ(objects.released, 1);
    EXPECT_EQ(objects.closed, std::vector<uintptr_t>{11}); // the mutex; the mapping stays open
    // A second bring-up in the process only counts.
    EXPECT_EQ(service.InitVSKLibrary(), 1);
    EXPECT_EQ(service.ReferenceCount(), 2);
    EXPECT_EQ(libraries.loads, 1);
}

TEST_F(ServiceFixture, ExistingMappingKeepsItsCounts) {
    libraries.loadable = true;
    objects.mappingExists = true;
    objects.shared = {1, 4};
    EXPECT_EQ(service.InitVSKLibrary(), 1);
    EXPECT_EQ(objects.shared.users, 5u);
    EXPECT_EQ(objects.shared.installed, 1u);
}

TEST(Service, InstallPlacesFilesPerWindowsKind) {
    struct Case {
        bool win64;
        std::vector<std::wstring> events;
        std::wstring uninstaller;
    };
    const Case cases[] = {
        {false,
         {L"write C:\\Windows\\System32\\drivers\\VskVxdSC.sys", L"write C:\\Windows\\System32\\VskVxdSC.dll",
          L"write C:\\Windows\\System32\\VskVxdSCUninstall.exe"},
         L"C:\\Windows\\System32\\VskVxdSCUninstall.exe"},
        {true,
         {L"write(off) C:\\Windows\\System32\\drivers\\VskVxdSC.sys",
          L"write(off) C:\\Windows\\SysWOW64\\VskVxdSC.dll",
          L"write(off) C:\\Windows\\System32\\VskVxdSC.dll",
          L"write(off) C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe"},
         L"C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.win64);
        ServiceWorld w;
        w.SetWindows(c.win64);
        EXPECT_EQ(w.service.InitVSKLibrary(), 1);
        EXPECT_EQ(w.files.events, c.events);
        EXPECT_EQ(w.files.disabled, c.win64 ? 4 : 0);
        EXPECT_EQ(w.files.reverted, w.files.disabled);
        EXPECT_EQ(w.files.FileText(L"C:\\Windows\\System32\\drivers\\VskVxdSC.sys"),
                  c.win64 ? "VSKSYS64" : "VSKSYS32");
        EXPECT_EQ(w.registry.StringValue(CVskLibrary::kUninstallKey, L"DisplayName"),
                  L"Veskora VskVxdSC Services");
        EXPECT_EQ(w.registry.StringValue(CVskLibrary::kUninstallKey, L"UninstallString"), c.uninstaller);
        EXPECT_EQ(w.registry.lastView32, c.win64);
        EXPECT_EQ(w.objects.shared.installed, 1u);
        EXPECT_EQ(w.objects.shared.users, 1u);
        EXPECT_EQ(w.libraries.loads, 2);
    }
}

TEST_F(ServiceFixture, FileInUseIsReplacedAtRestartThroughATemporaryFile) {
    files.inUse.insert(L"C:\\Windows\\SysWOW64\\VskVxdSC.dll");
    EXPECT_EQ(service.InitVSKLibrary(), 1);
    const std::wstring temp = L"C:\\Temp\\~vsk1A2.tmp";
    EXPECT_NE(std::find(files.events.begin(), files.events.end(), L"write(off) " + temp), files.events.end());
    EXPECT_NE(std::find(files.events.begin(), files.events.end(),
                        L"move " + temp + L" -> C:\\Windows\\SysWOW64\\VskVxdSC.dll"),
              files.events.end());
    EXPECT_EQ(files.FileText(temp), "VSKLIB32");
}

TEST_F(ServiceFixture, EveryFailureLeavesNothingBehindAndCanBeRetried) {
    struct Case {
        const char* name;
        void (*arrange)(ServiceWorld&);
    };
    const Case cases[] = {
        {"mutex cannot be created", [](ServiceWorld& f) { f.objects.failMutex = true; }},
        {"mutex not acquired",
         [](ServiceWorld& f) { f.objects.waitResult = plat::NamedMutex::WaitResult::Timeout; }},
        {"mutex abandoned",
         [](ServiceWorld& f) { f.objects.waitResult = plat::NamedMutex::WaitResult::Abandoned; }},
        {"no mapping", [](ServiceWorld& f) { f.objects.failMapping = true; }},
        {"no view", [](ServiceWorld& f) { f.objects.failView = true; }},
        {"itanium", [](ServiceWorld& f) { f.arch = 6; }},
        {"payload missing", [](ServiceWorld& f) { f.payloads.missing = "VSKLIB64"; }},
        {"payload length wrong", [](ServiceWorld& f) { f.payloads.badLength = "VSKUNINST"; }},
        {"file neither written nor scheduled",
         [](ServiceWorld& f) {
             f.files.inUse.insert(L"C:\\Windows\\System32\\VskVxdSC.dll");
             f.files.failMove = true;
         }},
        {"uninstall entry fails", [](ServiceWorld& f) { f.registry.failSetValue = true; }},
        // Nothing is written with redirection on: the 64-bit library would land over the 32-bit one.
        {"redirection cannot be switched off", [](ServiceWorld& f) { f.files.failRedirection = true; }},
        {"library does not load after install",
         [](ServiceWorld& f) { f.libraries.loadableAfterInstall = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceWorld f;
        c.arrange(f);
        EXPECT_EQ(f.service.InitVSKLibrary(), 0);
        EXPECT_EQ(f.service.ReferenceCount(), 0);
        for (const wchar_t* path :
             {L"C:\\Windows\\System32\\drivers\\VskVxdSC.sys", L"C:\\Windows\\SysWOW64\\VskVxdSC.dll",
              L"C:\\Windows\\System32\\VskVxdSC.dll", L"C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe",
              L"C:\\Temp\\~vsk1A2.tmp"})
            EXPECT_FALSE(f.files.HasFile(path)) << std::string(path, path + wcslen(path));
        EXPECT_TRUE(f.registry.keys.empty());
        EXPECT_EQ(f.objects.shared.users == 1u, false);
        if (!f.objects.failMutex) {
            // Released when the wait made this process its owner (also when abandoned), never otherwise.
            EXPECT_EQ(f.objects.released,
                      f.objects.waitResult == plat::NamedMutex::WaitResult::Timeout ? 0 : 1);
            EXPECT_EQ(f.objects.closed.front(),
                      f.objects.failMapping || f.objects.waitResult != plat::NamedMutex::WaitResult::Acquired
                          ? 11u
                          : 22u); // the mapping is closed before the mutex
        }
        // The wrappers do nothing without the library.
        uint32_t value = 0xAAAA;
        EXPECT_EQ(f.service.HwReadConfig(1, 4, &value), 0u);
        EXPECT_EQ(value, 0xAAAAu);
    }
}

TEST_F(ServiceFixture, ExportsResolveOnceAndAnIncompleteLibraryIsNotKept) {
    libraries.loadable = true;
    ASSERT_EQ(service.InitVSKLibrary(), 1);
    uint32_t value = 0;
    EXPECT_EQ(service.HwReadConfig(1, 0x2C, &value), 5u);
    EXPECT_EQ(value, 0x58u);
    service.HwReadConfig(1, 0, &value);
    EXPECT_EQ(libraries.resolves["csReadWrite"], 1);
    EXPECT_EQ(service.ReadMem(0, 0x1798), 0u); // a null window is never passed on

    // A library that loads but lacks any one export is freed and the bring-up fails without installing.
    for (const char* name : {"csReadWrite", "memRead", "memWrite", "memMap64", "memUnmap", "pciScanBus"}) {
        ServiceWorld w;
        w.libraries.loadable = true;
        w.libraries.missing = name;
        EXPECT_EQ(w.service.InitVSKLibrary(), 0) << name;
        EXPECT_EQ(w.libraries.frees, 1) << name;
        EXPECT_TRUE(w.files.events.empty()) << name;
        EXPECT_EQ(w.objects.shared.users, 0u) << name;
        value = 0x1234;
        EXPECT_EQ(w.service.HwReadConfig(1, 0, &value), 0u) << name;
        EXPECT_EQ(value, 0x1234u) << name;
    }
}

TEST_F(ServiceFixture, EveryWrapperPassesItsArgumentsAndResultThrough) {
    libraries.loadable = true;
    libraries.recording = true;
    ASSERT_EQ(service.InitVSKLibrary(), 1);
    const uintptr_t window = 0x7654321;
    int context = 0;
    struct Case {
        std::function<uint64_t(uint32_t& value)> call; // the wrapper's result; `value` its in/out value
        uint32_t valueBefore;
        ExportCall expected;
        uint64_t result;
        uint32_t valueAfter;
    };
    const Case cases[] = {
        {[&](uint32_t& v) { return service.HwReadConfig(0x0408, 0x2C, &v); },
         0x5555,
         {"csReadWrite", {0x0408, 0x2C, 4, 0}, 0x5555},
         0x11,
         0xC0DE002C},
        {[&](uint32_t&) { return service.HwWriteConfig(0x0300, 0x04, 0x00100002); },
         0,
         {"csReadWrite", {0x0300, 0x04, 4, 1}, 0x00100002},
         0x11,
         0},
        {[&](uint32_t& v) { return service.HwReadMem(window, 0x179C, &v); },
         0,
         {"memRead", {window, 0x179C, 4}, 0},
         0x12,
         0xFEED179C},
        {[&](uint32_t&) { return service.HwWriteMem(window, 0x1798, 0x20003820); },
         0,
         {"memWrite", {window, 0x1798, 4}, 0x20003820},
         0x13,
         0},
        {[&](uint32_t&) { return service.HwMapMem(0xFE800000, 0x1, 0x10000, 0); },
         0,
         {"memMap64", {0xFE800000, 0x1, 0x10000, 0}, 0},
         0xABC000,
         0},
        {[&](uint32_t&) { return service.HwUnmapMem(window); }, 0, {"memUnmap", {window}, 0}, 0x15, 0},
        {[&](uint32_t&) { return service.HwScanBus(&ScanCallback, &context); },
         0,
         {"pciScanBus",
          {reinterpret_cast<uintptr_t>(&ScanCallback), reinterpret_cast<uintptr_t>(&context)},
          0},
         0x16,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.name);
        lastCall = {};
        uint32_t value = c.valueBefore;
        EXPECT_EQ(c.call(value), c.result);
        EXPECT_EQ(lastCall.name, c.expected.name);
        EXPECT_EQ(lastCall.args, c.expected.args);
        EXPECT_EQ(lastCall.buffer, c.expected.buffer);
        EXPECT_EQ(value, c.valueAfter);
    }
}

} // namespace
