// Files on Win32: narrow (command-line) paths through the ANSI C runtime calls, wide paths through the wide
// ones. Everything is opened in binary mode; the callers supply their own line ends.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WinHandle.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using ScopedFile = std::unique_ptr<FILE, FileCloser>;

// Only a file on a disk has a size and an end. A device (CON, NUL, COM1, also as "CON.xsvf" on older
// Windows), a pipe or a folder is refused before anything is read, so that no read waits for input.
bool IsDiskFileAttributes(DWORD attributes) {
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Reads an open file from start to end. The output is only replaced when everything was read.
ReadStatus ReadOpenFile(FILE* file, std::vector<uint8_t>& data) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) {
        return ReadStatus::OpenFailed;
    }
    if (_fseeki64(file, 0, SEEK_END) != 0) {
        return ReadStatus::SizeFailed;
    }
    const long long size = _ftelli64(file);
    if (size < 0 || _fseeki64(file, 0, SEEK_SET) != 0) {
        return ReadStatus::SizeFailed;
    }
    if (static_cast<unsigned long long>(size) > static_cast<unsigned long long>(SIZE_MAX)) {
        return ReadStatus::OutOfMemory; // cannot be held in this process's address space
    }
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return ReadStatus::OutOfMemory;
    } catch (const std::length_error&) {
        return ReadStatus::OutOfMemory;
    }
    if (!buffer.empty() && std::fread(buffer.data(), 1, buffer.size(), file) != buffer.size()) {
        return ReadStatus::ReadFailed;
    }
    data.swap(buffer);
    return ReadStatus::Ok;
}

// The value Wow64DisableWow64FsRedirection hands back, kept per thread for the matching revert: redirection
// is a property of the calling thread.
thread_local void* redirectionOldValue = nullptr;
thread_local bool redirectionDisabled = false;

using Wow64DisableFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

// Looked up at run time: systems without WOW64 do not have these functions.
HMODULE Kernel32() {
    return ::GetModuleHandleW(L"kernel32.dll");
}

bool WriteOpenFile(FILE* file, const std::string& bytes) {
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

class WinFileSystem final : public FileSystem {
public:
    ReadStatus ReadWhole(const std::string& path, std::vector<uint8_t>& data) override {
        if (!IsDiskFileAttributes(::GetFileAttributesA(path.c_str()))) {
            return ReadStatus::OpenFailed;
        }
        ScopedFile file(std::fopen(path.c_str(), "rb"));
        if (!file) {
            return ReadStatus::OpenFailed;
        }
        return ReadOpenFile(file.get(), data);
    }

    ReadStatus ReadWhole(const std::wstring& path, std::vector<uint8_t>& data) override {
        if (!IsDiskFileAttributes(::GetFileAttributesW(path.c_str()))) {
            return ReadStatus::OpenFailed;
        }
        ScopedFile file(_wfopen(path.c_str(), L"rb"));
        if (!file) {
            return ReadStatus::OpenFailed;
        }
        return ReadOpenFile(file.get(), data);
    }

    bool Append(const std::wstring& path, const std::string& bytes) override {
        FILE* file = _wfopen(path.c_str(), L"ab");
        return file != nullptr && WriteOpenFile(file, bytes);
    }

    bool WriteWhole(const std::wstring& path, const std::string& bytes) override {
        FILE* file = _wfopen(path.c_str(), L"wb");
        return file != nullptr && WriteOpenFile(file, bytes);
    }

    // True when the folder exists afterwards, whether made now or already there.
    bool MakeDirectory(const std::wstring& path) override {
        if (::CreateDirectoryW(path.c_str(), nullptr)) {
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    bool RemoveFile(const std::wstring& path) override { return ::DeleteFileW(path.c_str()) != FALSE; }

    // True for an existing file; folders do not count.
    bool FileExists(const std::wstring& path) override {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    // No sharing, so a file that another process has open (a loaded library, a running program) fails
    // here instead of being overwritten under it. The file counts as written when the one write call
    // wrote every byte.
    bool CreateExclusive(const std::wstring& path, const std::string& bytes) override {
        if (bytes.size() > MAXDWORD) {
            return false;
        }
        ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return false;
        }
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(bytes.size());
        return ::WriteFile(file.Get(), bytes.data(), size, &written, nullptr) != FALSE && written == size;
    }

    // GetTempFileNameW with unique number 0 creates the file itself, so the name stays taken.
    bool MakeTempFile(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) override {
        wchar_t name[MAX_PATH + 1] = {};
        if (::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, name) == 0) {
            return false;
        }
        path = name;
        return true;
    }

    std::wstring ShortPath(const std::wstring& path) override {
        const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
        if (needed == 0) {
            return path;
        }
        std::wstring buffer(needed, L'\0');
        const DWORD length = ::GetShortPathNameW(path.c_str(), &buffer[0], needed);
        if (length == 0 || length >= needed) {
            return path;
        }
        buffer.resize(length);
        return buffer;
    }

    // Replacing an existing target is what the delayed move is for; a deletion has no target.
    bool MoveAtRestart(const std::wstring& from, const std::wstring& to) override {
        if (to.empty()) {
            return ::MoveFileExW(from.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
        }
        return ::MoveFileExW(from.c_str(), to.c_str(),
                             MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
    }

    // MoveFileEx keeps its restart-time operations as pairs of NT paths in one REG_MULTI_SZ value, the
    // target of a replacement marked with "!". Only the exact pair scheduled is removed; the value goes
    // when nothing else is left in it.
    bool CancelMoveAtRestart(const std::wstring& from, const std::wstring& to) override {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
            return false;
        }
        const wchar_t* const name = L"PendingFileRenameOperations";
        bool removed = false;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            type == REG_MULTI_SZ && size >= sizeof(wchar_t)) {
            std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
            if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
                ERROR_SUCCESS) {
                std::vector<std::wstring> strings;
                const size_t count = size / sizeof(wchar_t);
                for (size_t start = 0; start < count;) {
                    size_t end = start;
                    while (end < count && data[end] != L'\0') {
                        ++end;
                    }
                    if (end == start && strings.size() % 2 == 0) {
                        break; // the list's closing null
                    }
                    strings.emplace_back(data.data() + start, end - start);
                    start = end + 1;
                }
                const std::wstring source = L"\\??\\" + from;
                const std::wstring target = to.empty() ? std::wstring() : L"\\??\\" + to;
                for (size_t i = 0; i + 1 < strings.size() && !removed; i += 2) {
                    std::wstring scheduled = strings[i + 1];
                    if (!scheduled.empty() && scheduled[0] == L'!') {
                        scheduled.erase(0, 1);
                    }
                    if (::lstrcmpiW(strings[i].c_str(), source.c_str()) != 0 ||
                        ::lstrcmpiW(scheduled.c_str(), target.c_str()) != 0) {
                        continue;
                    }
                    strings.erase(strings.begin() + static_cast<std::ptrdiff_t>(i),
                                  strings.begin() + static_cast<std::ptrdiff_t>(i + 2));
                    std::wstring list;
                    for (const std::wstring& text : strings) {
                        list += text;
                        list += L'\0';
                    }
                    list += L'\0';
                    removed = strings.empty()
                                  ? ::RegDeleteValueW(key, name) == ERROR_SUCCESS
                                  : ::RegSetValueExW(key, name, 0, REG_MULTI_SZ,
                                                     reinterpret_cast<const BYTE*>(list.data()),
                                                     static_cast<DWORD>(list.size() * sizeof(wchar_t))) ==
                                        ERROR_SUCCESS;
                }
            }
        }
        ::RegCloseKey(key);
        return removed;
    }

    bool DisableRedirection() override {
        const auto disable = GetProc<Wow64DisableFn>(Kernel32(), "Wow64DisableWow64FsRedirection");
        if (disable == nullptr || redirectionDisabled) {
            return false;
        }
        void* oldValue = nullptr;
        if (!disable(&oldValue)) {
            return false;
        }
        redirectionOldValue = oldValue;
        redirectionDisabled = true;
        return true;
    }

    void RevertRedirection() override {
        const auto revert = GetProc<Wow64RevertFn>(Kernel32(), "Wow64RevertWow64FsRedirection");
        if (revert == nullptr || !redirectionDisabled) {
            return;
        }
        revert(redirectionOldValue);
        redirectionOldValue = nullptr;
        redirectionDisabled = false;
    }

    std::wstring FullPath(const std::wstring& path) override {
        const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (size == 0) {
            return path;
        }
        std::wstring full(size, L'\0');
        const DWORD length = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
        if (length == 0 || length >= size) {
            return path;
        }
        full.resize(length);
        return full;
    }

protected:
    uintptr_t WriteAndHoldHandle(const std::wstring& path, const std::string& bytes) override {
        if (bytes.size() > 0x7FFFFFFF) {
            return 0;
        }
        {
            ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            if (!file ||
                !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written != bytes.size()) {
                return 0;
            }
        }
        // Reading stays shared (starting the program opens it for reading and executing); writing,
        // replacing and deleting are denied while the hold lasts. Between the write and the hold the file
        // was ours only by name, so the hold first reads it back.
        ScopedHandle held(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held) {
            return 0;
        }
        std::string back(bytes.size() + 1, '\0');
        DWORD read = 0;
        if (!::ReadFile(held.Get(), &back[0], static_cast<DWORD>(back.size()), &read, nullptr) ||
            read != bytes.size() || back.compare(0, read, bytes) != 0) {
            return 0;
        }
        return reinterpret_cast<uintptr_t>(held.Release());
    }

    void ReleaseHeldHandle(uintptr_t file) override { ::CloseHandle(reinterpret_cast<HANDLE>(file)); }
};

} // namespace

std::unique_ptr<FileSystem> CreateFileSystem() {
    return std::make_unique<WinFileSystem>();
}

} // namespace plat::win
