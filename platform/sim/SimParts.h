// The simulated backend's classes, one per platform interface, sharing one SimMachine: the machine folder,
// its description and the counters that the run record keeps for tests.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "sim/Machine.h"
#include "sim/Registry.h"

namespace plat::simbackend {

// Windows' exit code for a process ended by a console control event.
constexpr uint32_t kStatusControlCExit = 0xC000013A;

struct SimMachine {
    std::string dir;
    sim::MachineDescription description;
    std::atomic<uint64_t> bringToFront{0};
    std::atomic<uint64_t> closeRemoved{0};
    std::atomic<uint64_t> highPriority{0};
    std::atomic<uint64_t> controlEvents{0};
    std::atomic<int> cursorVisible{1};
    std::atomic<int> textAttribute{7};

    // Flushes the standard streams, records the full code and the counters in the machine folder, and ends
    // the process at once with the low 8 bits of the code (no static destructors; other threads may run).
    [[noreturn]] void ExitProcess(uint32_t code);
};

class SimConsole final : public Console {
public:
    explicit SimConsole(SimMachine& machine);
    void Write(const std::wstring& text) override;
    void WriteNarrow(const std::string& text) override;
    void SetTextAttribute(uint16_t attribute) override;
    void SetCursorVisible(bool visible) override;
    int ReadKey() override;
    bool KeyAvailable() override;
    uintptr_t Window() override;
    void BringToFront(uintptr_t window) override;
    void RemoveCloseFromMenu(uintptr_t window) override;
    void AddControlHandler(std::function<bool(uint32_t)> handler) override;

    // Runs the handlers for one control event, last installed first, as the system's handler thread does.
    void DispatchControlEvent(uint32_t event);

private:
    void WriteBytes(const std::string& bytes);
    void WriteControl(const char* sequence);

    SimMachine& machine_;
    const bool terminal_;
    std::mutex outputMutex_;
    std::mutex inputMutex_;
    int pushedBack_ = -1; // a byte read ahead by KeyAvailable
    bool inputEnded_ = false;
    std::mutex handlerMutex_;
    std::vector<std::function<bool(uint32_t)>> handlers_;
    bool signalsInstalled_ = false;
};

class SimFileSystem final : public FileSystem {
public:
    explicit SimFileSystem(SimMachine& machine) : machine_(machine) {}
    ReadStatus ReadWhole(const std::string& path, std::vector<uint8_t>& data) override;
    ReadStatus ReadWhole(const std::wstring& path, std::vector<uint8_t>& data) override;
    bool Append(const std::wstring& path, const std::string& bytes) override;
    bool WriteWhole(const std::wstring& path, const std::string& bytes) override;
    bool MakeDirectory(const std::wstring& path) override;
    bool RemoveFile(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    // In use means another open handle holds the file (an flock, see SimNamedObjects for the convention).
    bool CreateExclusive(const std::wstring& path, const std::string& bytes) override;
    bool MakeTempFile(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) override;
    // Appended to PendingFileRenameOperations under the Session Manager key, as Windows keeps them.
    bool MoveAtRestart(const std::wstring& from, const std::wstring& to) override;
    bool CancelMoveAtRestart(const std::wstring& from, const std::wstring& to) override;
    // The simulated drives keep no short names: every path is its own short form.
    std::wstring ShortPath(const std::wstring& path) override { return path; }
    // Per thread, as on Windows: off only while disabled on 64-bit Windows.
    bool DisableRedirection() override;
    void RevertRedirection() override;
    std::wstring FullPath(const std::wstring& path) override;

protected:
    // The hold is an exclusive flock on an open descriptor.
    uintptr_t WriteAndHoldHandle(const std::wstring& path, const std::string& bytes) override;
    void ReleaseHeldHandle(uintptr_t file) override;

private:
    std::wstring CurrentFolder() const;
    std::string Map(const std::wstring& path) const;
    // Map for an operation that changes files: "" (which nothing can open) unless inside the machine.
    std::string MapForChange(const std::wstring& path) const;
    // A file that the description's "locked-files" holds open: it can be neither created nor removed.
    bool Locked(const std::string& mappedPath) const;
    SimMachine& machine_;
};

// On 64-bit Windows the 32-bit view of SOFTWARE is the WOW6432Node subtree, as the registry redirects it.
class SimRegistry final : public Registry {
public:
    explicit SimRegistry(SimMachine& machine) : store_(machine.dir), os64_(machine.description.os64) {}
    long CreateKey(const std::wstring& path, bool view32) override;
    bool KeyExists(const std::wstring& path, bool view32) override;
    long QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes, RegValue& out,
                    bool view32) override;
    long SetValue(const std::wstring& path, const std::wstring& name, const RegValue& value,
                  bool view32) override;
    long DeleteValue(const std::wstring& path, const std::wstring& name, bool view32) override;
    long DeleteKey(const std::wstring& path, bool view32) override;

private:
    std::wstring View(const std::wstring& path, bool view32) const;
    sim::RegistryStore store_;
    bool os64_;
};

class SimEnvironment final : public Environment {
public:
    explicit SimEnvironment(SimMachine& machine);
    bool GetVariable(const std::wstring& name, std::wstring& value) override;
    bool SetVariable(const std::wstring& name, const std::wstring& value) override;
    bool RemoveVariable(const std::wstring& name) override;
    std::wstring Expand(const std::wstring& text) override;
    std::wstring TempPath() override;
    std::wstring WindowsFolder() override;
    std::wstring ModulePath() override;
    std::wstring CommandLine() override;
    WindowsVersion Version() override;
    bool IsWow64Process() override;
    bool Is64BitWindows() override;
    // x64 (9) on 64-bit Windows, x86 (0) otherwise.
    int NativeArchitecture() override { return Is64BitWindows() ? 9 : 0; }
    std::string ToNarrow(const std::wstring& text) override;
    std::wstring ToWide(const std::string& text) override;

private:
    SimMachine& machine_;
    std::mutex mutex_;
    std::vector<std::pair<std::wstring, std::wstring>> variables_;
};

// With "clock = virtual" each thread's sleeps advance that thread's clock at once (a real pause of one
// microsecond per simulated millisecond keeps loops from spinning), so long waits run in no time.
class SimClock final : public Clock {
public:
    explicit SimClock(SimMachine& machine) : machine_(machine) {}
    uint64_t ProcessMilliseconds() override;
    void SleepMs(uint32_t ms) override;
    LocalTime Now() override;
    uint64_t PerformanceCounter() override;
    uint64_t PerformanceFrequency() override;
    uint32_t ProcessorMhz() override;

private:
    SimMachine& machine_;
};

// Child processes are the machine's programs (sim::StartProgram): the driver tool and the desktop
// manager's tool run to their end at once and their time passes on the caller's clock; the pipe holds
// whatever they wrote, passed on whole. The process table, the sessions and the events are the machine's.
class SimProcesses final : public Processes {
public:
    SimProcesses(SimMachine& machine, Clock& clock) : machine_(machine), clock_(clock) {}
    [[noreturn]] void Exit(int code) override;
    ChildRun RunChild(ChildPipe& pipe, const std::wstring& commandLine, uint32_t waitMs,
                      const PipeSink& sink) override;
    bool Snapshot(std::vector<ProcessInfo>& processes) override;
    bool Terminate(uint32_t pid, uint32_t exitCode) override;
    bool EnumerateSessions(std::vector<uint32_t>& sessionIds) override;

protected:
    uintptr_t CreatePipeHandle() override { return 0x2000; }
    void ClosePipeHandle(uintptr_t) override {}

private:
    SimMachine& machine_;
    Clock& clock_;
};

// The machine's power state (sim/Power.h) in DIR/power.ini, loaded and saved around each call; the
// priority raise is also counted for the run record.
class SimPower final : public Power {
public:
    explicit SimPower(SimMachine& machine) : machine_(machine) {}
    void SetHighPriority() override;
    void SetExecutionState(uint32_t flags) override;
    bool TakeActiveScheme() override;
    bool ReadAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t& value) override;
    bool WriteAcValue(const PowerGuid& subgroup, const PowerGuid& setting, uint32_t value) override;
    bool ActivateScheme() override;
    bool EnableShutdownPrivilege() override;
    bool RequestRestart(uint32_t timeoutSeconds, bool forceAppsClosed, bool rebootAfterShutdown,
                        uint32_t reason) override;

private:
    SimMachine& machine_;
    std::string scheme_; // the scheme taken; empty: none
};

// Named objects are files in DIR/objects, shared by every process on the machine: a mutex is an flock on
// its file, whose content names the owner until release (so a dead owner shows as abandoned); a mapping is
// a file mapped shared, new (zeroed) when no other open handle holds it.
class SimNamedObjects final : public NamedObjects {
public:
    SimNamedObjects(SimMachine& machine, Clock& clock) : machine_(machine), clock_(clock) {}
    // An event of the machine's process table (sim/Processes.h), opened from the program's session.
    bool SignalEvent(const std::wstring& name) override;

protected:
    uintptr_t CreateMutexHandle(const std::wstring& name) override;
    NamedMutex::WaitResult WaitForMutex(uintptr_t mutex, uint32_t milliseconds) override;
    void ReleaseMutexHandle(uintptr_t mutex) override;
    uintptr_t OpenOrCreateMappingHandle(const std::wstring& name, uint32_t size, bool& created) override;
    void* MapView(uintptr_t mapping) override;
    void UnmapView(void* view) override;
    void CloseObject(uintptr_t handle) override;

private:
    struct Object {
        int fd = -1;
        size_t size = 0; // mappings only
    };
    std::string ObjectPath(const std::string& kind, const std::wstring& name) const;
    uintptr_t AddObject(int fd, size_t size);
    bool FindObject(uintptr_t handle, Object& object);

    SimMachine& machine_;
    Clock& clock_;
    std::mutex mutex_;
    std::map<uintptr_t, Object> objects_;
    std::map<void*, size_t> views_;
    uintptr_t nextHandle_ = 0x104;
};

// Libraries the simulated machine provides in-process: the hardware-access library "VskVxdSC.dll" once it
// is installed (the file is where the search order finds it, or the description says hw-service = 1); its
// exports are the stand-in service of sim/HwService.h. Every other load fails.
class SimLibraries final : public Libraries {
public:
    explicit SimLibraries(SimMachine& machine) : machine_(machine) {}

protected:
    uintptr_t LoadHandle(const std::wstring& name) override;
    void* ResolveExport(uintptr_t library, const char* symbol) override;
    void FreeHandle(uintptr_t library) override;

private:
    // Whether the library `name` (a bare name, searched as Windows does, or a full path) is there.
    bool ServiceInstalled(const std::wstring& name) const;
    // Whether a load of the display library `name` finds a file: the machine's own library in its system
    // folders, or any file of that name where the load looks.
    bool DisplayLibraryFound(const std::wstring& name) const;
    SimMachine& machine_;
};

// Embedded resources: the files of DIR/resources, by name.
class SimResources final : public Resources {
public:
    explicit SimResources(SimMachine& machine) : machine_(machine) {}
    bool Find(const std::string& name, std::vector<uint8_t>& data) override;

private:
    SimMachine& machine_;
};

} // namespace plat::simbackend
