// The operations the program logic runs against. Each interface has a Win32 backend (platform/win32) and a
// simulated backend (platform/sim); the logic sees only these headers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Win32 error values the logic looks at.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;

// Console control events, as the system numbers them.
constexpr uint32_t kCtrlCEvent = 0;
constexpr uint32_t kCtrlBreakEvent = 1;
constexpr uint32_t kCtrlCloseEvent = 2;

class Console {
public:
    virtual ~Console() = default;
    // Wide text as a wide console printf would write it.
    virtual void Write(const std::wstring& text) = 0;
    // Narrow text as a narrow printf would write it (also the BEL character).
    virtual void WriteNarrow(const std::string& text) = 0;
    virtual void SetTextAttribute(uint16_t attribute) = 0;
    virtual void SetCursorVisible(bool visible) = 0;
    // Waits for one key and returns it without echo; -1 when the input has ended (never blocks forever on a
    // closed pipe or file).
    virtual int ReadKey() = 0;
    // True when a key can be read without waiting.
    virtual bool KeyAvailable() = 0;
    // The console window: 0 when there is none.
    virtual uintptr_t Window() = 0;
    virtual void BringToFront(uintptr_t window) = 0;
    virtual void RemoveCloseFromMenu(uintptr_t window) = 0;
    // Registers a console control handler; the handler installed last is asked first. A handler returns true
    // when it handled the event.
    virtual void AddControlHandler(std::function<bool(uint32_t)> handler) = 0;
};

enum class ReadStatus { Ok, OpenFailed, SizeFailed, ReadFailed, OutOfMemory };

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Reads a whole file named by a narrow (command-line) path: open for binary reading, take the size, read.
    virtual ReadStatus ReadWhole(const std::string& path, std::vector<uint8_t>& data) = 0;
    virtual ReadStatus ReadWhole(const std::wstring& path, std::vector<uint8_t>& data) = 0;
    // Appends bytes to a file, creating it when missing. False when it cannot be opened or written.
    virtual bool Append(const std::wstring& path, const std::string& bytes) = 0;
    // Creates or truncates a file and writes the bytes.
    virtual bool WriteWhole(const std::wstring& path, const std::string& bytes) = 0;
    virtual bool MakeDirectory(const std::wstring& path) = 0;
    virtual bool RemoveFile(const std::wstring& path) = 0;
    virtual bool FileExists(const std::wstring& path) = 0;

    // Creates (always, no sharing) a file and writes all bytes with one write; false when the file cannot be
    // created, e.g. because it is in use.
    virtual bool CreateExclusive(const std::wstring& path, const std::string& bytes) {
        (void)path, (void)bytes;
        return false;
    }
    // Creates a uniquely named empty file in a folder (prefix and a number, ".tmp"); false on failure.
    virtual bool MakeTempFile(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) {
        (void)folder, (void)prefix, (void)path;
        return false;
    }
    // The short (8.3) form of a path; the path itself where there is none.
    virtual std::wstring ShortPath(const std::wstring& path) { return path; }
    // Schedules a file to replace another at the next restart, or to be deleted then when `to` is empty.
    virtual bool MoveAtRestart(const std::wstring& from, const std::wstring& to) {
        (void)from, (void)to;
        return false;
    }
    // File-system redirection of a 32-bit process on 64-bit Windows. Disable returns whether it was
    // switched off (and so must be reverted); false also when the system has no such function.
    virtual bool DisableRedirection() { return false; }
    virtual void RevertRedirection() {}
};

enum class RegType : uint32_t { None = 0, String = 1, Dword = 4 };

struct RegValue {
    RegType type = RegType::None;
    std::string data; // raw bytes as stored

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

// HKEY_LOCAL_MACHINE only; key paths are relative to it ("SOFTWARE\\...").
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

struct WindowsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
};

class Environment {
public:
    virtual ~Environment() = default;
    virtual bool GetVariable(const std::wstring& name, std::wstring& value) = 0;
    virtual bool SetVariable(const std::wstring& name, const std::wstring& value) = 0;
    // Expands %name% references; unknown names stay as they are.
    virtual std::wstring Expand(const std::wstring& text) = 0;
    // The temporary folder, ending in a backslash.
    virtual std::wstring TempPath() = 0;
    virtual std::wstring WindowsFolder() = 0;
    // Full path of the running program.
    virtual std::wstring ModulePath() = 0;
    // The process's own command line as the system holds it.
    virtual std::wstring CommandLine() = 0;
    virtual WindowsVersion Version() = 0;
    virtual bool IsWow64Process() = 0;
    virtual bool Is64BitWindows() = 0;
    // The processor architecture of the native system (0 x86, 6 Itanium, 9 x64), or -1 when the system
    // cannot tell (the machine then counts as 32-bit Windows).
    virtual int NativeArchitecture() { return Is64BitWindows() ? 9 : 0; }
    // Conversions between wide text and the narrow code page of files and narrow console output.
    virtual std::string ToNarrow(const std::wstring& text) = 0;
    virtual std::wstring ToWide(const std::string& text) = 0;
};

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the process started (the process clock).
    virtual uint64_t ProcessMilliseconds() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    virtual LocalTime Now() = 0;
    virtual uint64_t PerformanceCounter() = 0;
    virtual uint64_t PerformanceFrequency() = 0;
    // Current processor clock in MHz from the processor power information; 0 when unknown.
    virtual uint32_t ProcessorMhz() = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    [[noreturn]] virtual void Exit(int code) = 0;
    virtual void SetHighPriority() = 0;

    enum class WaitResult { Acquired, Abandoned, Timeout, Failed };
    // A named mutex shared by every process on the machine; 0 when it cannot be created or opened.
    virtual uintptr_t CreateNamedMutex(const std::wstring& name) {
        (void)name;
        return 0;
    }
    virtual WaitResult WaitForMutex(uintptr_t mutex, uint32_t milliseconds) {
        (void)mutex, (void)milliseconds;
        return WaitResult::Failed;
    }
    virtual void ReleaseNamedMutex(uintptr_t mutex) { (void)mutex; }
    // A named shared memory block: opened when it exists (created is false), else created zeroed with the
    // given size (created is true); 0 on failure.
    virtual uintptr_t OpenOrCreateMapping(const std::wstring& name, uint32_t size, bool& created) {
        (void)name, (void)size;
        created = false;
        return 0;
    }
    // The mapping's memory; null when it cannot be mapped.
    virtual void* MapView(uintptr_t mapping) {
        (void)mapping;
        return nullptr;
    }
    virtual void UnmapView(void* view) { (void)view; }
    virtual void CloseHandle(uintptr_t handle) { (void)handle; }
};

// Libraries loaded at run time by name, and their exports.
class Libraries {
public:
    virtual ~Libraries() = default;
    // 0 when the library cannot be loaded.
    virtual uintptr_t Load(const std::wstring& name) = 0;
    // Null when the export is missing.
    virtual void* Resolve(uintptr_t library, const char* symbol) = 0;
    virtual void Free(uintptr_t library) = 0;
};

// Data carried inside the program.
class Resources {
public:
    virtual ~Resources() = default;
    // The bytes of an embedded resource by name; false when there is none.
    virtual bool Find(const std::string& name, std::vector<uint8_t>& data) = 0;
};

// One object owning one instance of each interface, handed to the run at start-up.
struct Platform {
    virtual ~Platform() = default;
    Console* console = nullptr;
    FileSystem* files = nullptr;
    Registry* registry = nullptr;
    Environment* env = nullptr;
    Clock* clock = nullptr;
    Processes* processes = nullptr;
    Libraries* libraries = nullptr;
    Resources* resources = nullptr;
};

// Made by the backend that is linked in.
std::unique_ptr<Platform> CreatePlatform();

} // namespace plat
