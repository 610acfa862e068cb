// The simulator's file helpers (sim/Files.h) on Win32, for the stand-in library: paths are UTF-8 and may use
// either slash. Replacing a file goes through a temporary file and MoveFileExW with write-through, so readers
// see the old or the new content. The lock is LockFileEx on a lock file, held by its own handle, so it also
// excludes other threads of the same process.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "sim/Files.h"
#include "sim/win/WinText.h"

namespace sim {

namespace {

struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesW(simwin::ToWide(path).c_str());
}

} // namespace

bool ReadFile(const std::string& path, std::string& data) {
    Handle file(::CreateFileW(simwin::ToWide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.h == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::string out;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.h, buffer, sizeof buffer, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        out.append(buffer, read);
    }
    data.swap(out);
    return true;
}

bool WriteFileAtomic(const std::string& path, const std::string& data) {
    if (data.size() > MAXDWORD) {
        return false;
    }
    const std::wstring target = simwin::ToWide(path);
    const std::wstring temp = target + L".tmp." + std::to_wstring(::GetCurrentProcessId());
    bool written = false;
    {
        Handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.h == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD count = 0;
        const DWORD size = static_cast<DWORD>(data.size());
        written = (size == 0 || (::WriteFile(file.h, data.data(), size, &count, nullptr) && count == size)) &&
                  ::FlushFileBuffers(file.h);
    }
    if (!written ||
        !::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // Each prefix ending before a slash; drive roots ("C:") and UNC prefixes fail to create and are skipped.
    for (size_t pos = path.find_first_of("/\\", 1); pos != std::string::npos;
         pos = path.find_first_of("/\\", pos + 1)) {
        const std::string partial = path.substr(0, pos);
        if (!IsDirectory(partial)) {
            ::CreateDirectoryW(simwin::ToWide(partial).c_str(), nullptr);
        }
    }
    if (!IsDirectory(path)) {
        ::CreateDirectoryW(simwin::ToWide(path).c_str(), nullptr);
    }
    return IsDirectory(path);
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

// The lock keeps a C runtime descriptor (the header's fd_) over the Win32 handle it locks.
FileLock::FileLock(const std::string& path) {
    HANDLE file = ::CreateFileW(simwin::ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        ::CloseHandle(file);
        return;
    }
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR);
    if (fd_ < 0) {
        ::CloseHandle(file);
    }
}

// Closing the handle releases the lock.
FileLock::~FileLock() {
    if (fd_ >= 0) {
        ::_close(fd_);
    }
}

} // namespace sim
