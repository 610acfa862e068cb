// A whole platform of fakes for unit tests of the run: recording console, in-memory files, a settable
// environment, a clock whose sleeps advance it instantly, a process whose exit throws, no named objects,
// and a loader that finds no library (so the service bring-up fails and the display library never binds).
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fakes/FakeConsole.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeRegistry.h"
#include "platform/Platform.h"

class FakeEnvironment : public plat::Environment {
public:
    bool GetVariable(const std::wstring& name, std::wstring& value) override {
        auto it = vars.find(name);
        if (it == vars.end())
            return false;
        value = it->second;
        return true;
    }
    bool SetVariable(const std::wstring& name, const std::wstring& value) override {
        vars[name] = value;
        return true;
    }
    bool RemoveVariable(const std::wstring& name) override {
        vars.erase(name);
        return true;
    }
    std::wstring Expand(const std::wstring& text) override { return text; }
    std::wstring TempPath() override { return L"C:\\Temp\\"; }
    std::wstring WindowsFolder() override { return L"C:\\Windows"; }
    std::wstring ModulePath() override { return modulePath; }
    std::wstring CommandLine() override { return L"VskQ740FwUpdater"; }
    plat::WindowsVersion Version() override { return version; }
    bool IsWow64Process() override { return true; }
    bool Is64BitWindows() override { return true; }
    int NativeArchitecture() override { return 9; }
    std::string ToNarrow(const std::wstring& text) override { return std::string(text.begin(), text.end()); }
    std::wstring ToWide(const std::string& text) override { return std::wstring(text.begin(), text.end()); }

    std::map<std::wstring, std::wstring> vars{{L"LOCALAPPDATA", L"C:\\Users\\u\\AppData\\Local"}};
    std::wstring modulePath = L"C:\\Tools\\VskQ740FwUpdater.exe";
    plat::WindowsVersion version{10, 0};
};

class FakeClock : public plat::Clock {
public:
    uint64_t ProcessMilliseconds() override { return now; }
    void SleepMs(uint32_t ms) override {
        now += ms;
        ++sleeps;
    }
    plat::LocalTime Now() override { return localTime; }
    uint64_t PerformanceCounter() override { return counter; }
    uint64_t PerformanceFrequency() override { return 10000000; }
    uint32_t ProcessorMhz() override { return 3000; }

    uint64_t now = 0;
    uint64_t counter = 0;
    int sleeps = 0;
    plat::LocalTime localTime{2026, 12, 6, 15, 4, 9};
};

// Children are scripted by the start of their command line; every start is recorded. A child that is
// not scripted cannot be started. Processes and sessions are a settable list.
class FakeProcesses : public plat::Processes {
public:
    struct ExitCalled {
        int code;
    };
    struct Script {
        bool starts = true;
        std::vector<std::string> output; // written in these chunks
        bool ends = true;
        bool exitCodeKnown = true;
        uint32_t exitCode = 0;
    };
    [[noreturn]] void Exit(int code) override { throw ExitCalled{code}; }
    plat::ChildRun RunChild(plat::ChildPipe& pipe, const std::wstring& commandLine, uint32_t waitMs,
                            const plat::PipeSink& sink) override {
        started.push_back(commandLine);
        waits.push_back(waitMs);
        plat::ChildRun run;
        const Script* script = nullptr;
        for (const auto& [prefix, s] : scripts)
            if (pipe && commandLine.compare(0, prefix.size(), prefix) == 0)
                script = &s;
        if (!script || !script->starts)
            return run;
        run.started = true;
        for (const std::string& chunk : script->output)
            sink(chunk.data(), chunk.size());
        run.ended = script->ends;
        run.exitCodeKnown = script->exitCodeKnown;
        run.exitCode = script->ends ? script->exitCode : 259;
        return run;
    }
    bool Snapshot(std::vector<plat::ProcessInfo>& out) override {
        ++snapshots;
        out = processes;
        return true;
    }
    bool Terminate(uint32_t pid, uint32_t) override {
        for (auto it = processes.begin(); it != processes.end(); ++it) {
            if (it->pid == pid && unkillable.count(pid) == 0) {
                terminated.push_back(pid);
                processes.erase(it);
                return true;
            }
        }
        return false;
    }
    bool EnumerateSessions(std::vector<uint32_t>& ids) override {
        ids = sessions;
        return sessionsListed;
    }

    std::vector<std::pair<std::wstring, Script>> scripts;
    std::vector<std::wstring> started;
    std::vector<uint32_t> waits;
    std::vector<plat::ProcessInfo> processes;
    std::set<uint32_t> unkillable;
    std::vector<uint32_t> terminated;
    int snapshots = 0;
    std::vector<uint32_t> sessions{0, 1};
    bool sessionsListed = true;
    int pipesOpen = 0;

protected:
    uintptr_t CreatePipeHandle() override {
        ++pipesOpen;
        return 7;
    }
    void ClosePipeHandle(uintptr_t) override { --pipesOpen; }
};

// The AC values of two settings by setting GUID's first part; every call is recorded in order.
class FakePower : public plat::Power {
public:
    void SetHighPriority() override { highPriority = true; }
    void SetExecutionState(uint32_t flags) override { executionState = flags; }
    bool TakeActiveScheme() override { return haveScheme; }
    bool ReadAcValue(const plat::PowerGuid&, const plat::PowerGuid& setting, uint32_t& value) override {
        calls.push_back("read " + std::to_string(setting.data1));
        if (!haveScheme || readFails)
            return false;
        value = ac[setting.data1];
        return true;
    }
    bool WriteAcValue(const plat::PowerGuid&, const plat::PowerGuid& setting, uint32_t value) override {
        calls.push_back("write " + std::to_string(setting.data1) + " " + std::to_string(value));
        ac[setting.data1] = value;
        return haveScheme;
    }
    bool ActivateScheme() override {
        calls.push_back("activate");
        return haveScheme;
    }
    bool EnableShutdownPrivilege() override {
        calls.push_back("privilege");
        return true;
    }
    bool RequestRestart(uint32_t timeout, bool force, bool reboot, uint32_t reason) override {
        calls.push_back("restart " + std::to_string(timeout) + " " + std::to_string(force) + " " +
                        std::to_string(reboot) + " " + std::to_string(reason));
        return true;
    }
    bool highPriority = false;
    uint32_t executionState = 0;
    bool haveScheme = true;
    bool readFails = false;
    std::map<uint32_t, uint32_t> ac;
    std::vector<std::string> calls;
};

// Mutexes can be had (one named in `heldElsewhere` is owned by another process, one in `failing` cannot be
// created); no shared mapping can be created, so a run on this platform fails its service bring-up at once.
class FakeNamedObjects : public plat::NamedObjects {
public:
    std::set<std::wstring> heldElsewhere, failing;
    std::map<std::wstring, plat::NamedMutex::WaitResult> results; // a wait's result other than the above
    std::vector<std::wstring> names, released;                    // every mutex created; each release

protected:
    uintptr_t CreateMutexHandle(const std::wstring& name) override {
        if (failing.count(name) != 0)
            return 0;
        names.push_back(name);
        return names.size() * 4;
    }
    plat::NamedMutex::WaitResult WaitForMutex(uintptr_t handle, uint32_t) override {
        const std::wstring& name = names.at(handle / 4 - 1);
        if (heldElsewhere.count(name) != 0)
            return plat::NamedMutex::WaitResult::Timeout;
        const auto it = results.find(name);
        return it != results.end() ? it->second : plat::NamedMutex::WaitResult::Acquired;
    }
    void ReleaseMutexHandle(uintptr_t handle) override { released.push_back(names.at(handle / 4 - 1)); }
    uintptr_t OpenOrCreateMappingHandle(const std::wstring&, uint32_t, bool& created) override {
        created = false;
        return 0;
    }
    void* MapView(uintptr_t) override { return nullptr; }
    void UnmapView(void*) override {}
    void CloseObject(uintptr_t) override {}

public:
    // Events exist by name; setting one counts it.
    bool SignalEvent(const std::wstring& name) override {
        if (events.count(name) == 0)
            return false;
        ++events[name];
        return true;
    }
    std::map<std::wstring, int> events;
};

class FakeNoLibraries : public plat::Libraries {
protected:
    uintptr_t LoadHandle(const std::wstring&) override { return 0; }
    void* ResolveExport(uintptr_t, const char*) override { return nullptr; }
    void FreeHandle(uintptr_t) override {}
};

struct FakePlatform : plat::Platform {
    FakePlatform() {
        libraries = &fakeLibraries;
        console = &fakeConsole;
        files = &fakeFiles;
        env = &fakeEnv;
        clock = &fakeClock;
        processes = &fakeProcesses;
        power = &fakePower;
        namedObjects = &fakeNamedObjects;
        registry = &fakeRegistry;
    }
    FakeConsole fakeConsole;
    FakeFileSystem fakeFiles;
    FakeEnvironment fakeEnv;
    FakeClock fakeClock;
    FakeProcesses fakeProcesses;
    FakePower fakePower;
    FakeNamedObjects fakeNamedObjects;
    FakeRegistry fakeRegistry;
    FakeNoLibraries fakeLibraries;
};
