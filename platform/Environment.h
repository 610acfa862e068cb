// The process's environment and what it knows of the system it runs on.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

struct WindowsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
};

class Environment {
public:
    virtual ~Environment() = default;
    virtual bool GetVariable(const std::wstring& name, std::wstring& value) = 0;
    virtual bool SetVariable(const std::wstring& name, const std::wstring& value) = 0;
    // Removes the variable from the process's environment; true also when it was not there.
    virtual bool RemoveVariable(const std::wstring& name) = 0;
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
    virtual int NativeArchitecture() = 0;
    // Conversions between wide text and the narrow code page of files and narrow console output.
    virtual std::string ToNarrow(const std::wstring& text) = 0;
    virtual std::wstring ToWide(const std::string& text) = 0;
};

} // namespace plat
