// Process environment and system facts on Win32. The Windows version comes from RtlGetVersion, which tells
// the truth; GetVersionEx reports 6.2 on later systems to programs that do not declare them. Calls missing
// from older systems are looked up at run time.
#include <windows.h>

#include <string>

#include "platform/Platform.h"
#include "platform/win32/WinHandle.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

// Runs a "fill this buffer, or tell me the size" call until the text fits. The call returns the length
// written (without the terminator), or the size needed (with it) when the buffer was too small, or 0.
template <typename Fill> std::wstring GrowingBuffer(Fill fill, DWORD initial = MAX_PATH + 1) {
    std::wstring buffer(initial, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD length = fill(&buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(length + 1, L'\0');
    }
    return {};
}

class WinEnvironment final : public Environment {
public:
    bool GetVariable(const std::wstring& name, std::wstring& value) override {
        std::wstring buffer(256, L'\0');
        for (int attempt = 0; attempt < 8; ++attempt) {
            ::SetLastError(ERROR_SUCCESS);
            const DWORD length =
                ::GetEnvironmentVariableW(name.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
            if (length == 0) {
                if (::GetLastError() != ERROR_SUCCESS) {
                    return false; // not defined
                }
                value.clear(); // defined and empty
                return true;
            }
            if (length < buffer.size()) {
                buffer.resize(length);
                value.swap(buffer);
                return true;
            }
            buffer.assign(length + 1, L'\0');
        }
        return false;
    }

    bool SetVariable(const std::wstring& name, const std::wstring& value) override {
        return ::SetEnvironmentVariableW(name.c_str(), value.c_str()) != FALSE;
    }

    bool RemoveVariable(const std::wstring& name) override {
        return ::SetEnvironmentVariableW(name.c_str(), nullptr) != FALSE ||
               ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
    }

    std::wstring Expand(const std::wstring& text) override {
        std::wstring buffer(text.size() + 256, L'\0');
        for (int attempt = 0; attempt < 8; ++attempt) {
            const DWORD needed =
                ::ExpandEnvironmentStringsW(text.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
            if (needed == 0) {
                return text;
            }
            if (needed <= buffer.size()) {
                buffer.resize(needed - 1); // the count includes the terminator
                return buffer;
            }
            buffer.assign(needed, L'\0');
        }
        return text;
    }

    std::wstring TempPath() override {
        return GrowingBuffer([](wchar_t* buffer, DWORD size) { return ::GetTempPathW(size, buffer); });
    }

    std::wstring WindowsFolder() override {
        return GrowingBuffer(
            [](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); });
    }

    std::wstring ModulePath() override {
        // GetModuleFileNameW truncates and returns the buffer size when the path does not fit.
        std::wstring buffer(MAX_PATH + 1, L'\0');
        for (int attempt = 0; attempt < 8; ++attempt) {
            const DWORD length = ::GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
            if (length == 0) {
                return {};
            }
            if (length < buffer.size()) {
                buffer.resize(length);
                return buffer;
            }
            buffer.assign(buffer.size() * 2, L'\0');
        }
        return {};
    }

    std::wstring CommandLine() override {
        const wchar_t* line = ::GetCommandLineW();
        return line != nullptr ? std::wstring(line) : std::wstring();
    }

    WindowsVersion Version() override {
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        const auto rtlGetVersion =
            GetProc<RtlGetVersionFn>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof(info);
        WindowsVersion version;
        if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
            version.major = info.dwMajorVersion;
            version.minor = info.dwMinorVersion;
        }
        return version;
    }

    bool IsWow64Process() override {
        BOOL wow64 = FALSE;
        return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    }

    bool Is64BitWindows() override {
#if defined(_WIN64)
        return true;
#else
        switch (NativeArchitecture()) {
        case PROCESSOR_ARCHITECTURE_AMD64:
        case PROCESSOR_ARCHITECTURE_IA64:
        case 12: // PROCESSOR_ARCHITECTURE_ARM64
            return true;
        default:
            return false;
        }
#endif
    }

    // GetNativeSystemInfo tells a 32-bit process the truth about 64-bit Windows; systems before it lack it.
    int NativeArchitecture() override {
        using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
        const auto getNativeSystemInfo =
            GetProc<GetNativeSystemInfoFn>(::GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo");
        if (getNativeSystemInfo == nullptr) {
            return -1;
        }
        SYSTEM_INFO info{};
        getNativeSystemInfo(&info);
        return info.wProcessorArchitecture;
    }

    std::string ToNarrow(const std::wstring& text) override {
        if (text.empty()) {
            return {};
        }
        const int length = static_cast<int>(text.size());
        const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
        if (size <= 0) {
            return {};
        }
        std::string out(static_cast<size_t>(size), '\0');
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, &out[0], size, nullptr, nullptr);
        return out;
    }

    std::wstring ToWide(const std::string& text) override {
        if (text.empty()) {
            return {};
        }
        const int length = static_cast<int>(text.size());
        const int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
        if (size <= 0) {
            return {};
        }
        std::wstring out(static_cast<size_t>(size), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, &out[0], size);
        return out;
    }
};

} // namespace

std::unique_ptr<Environment> CreateEnvironment() {
    return std::make_unique<WinEnvironment>();
}

} // namespace plat::win
