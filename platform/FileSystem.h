// Files and folders, by narrow (command-line) or wide path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Owned.h"

namespace plat {

class FileSystem;

// A file this process wrote and now holds open for reading while denying others the right to write,
// replace or delete it, so that what was written is what a later start of it runs. Released when the
// owner goes.
class HeldFile {
public:
    HeldFile() = default;
    explicit operator bool() const { return static_cast<bool>(file_); }
    void Reset() { file_.Reset(); }

private:
    friend class FileSystem;
    struct Traits {
        using From = FileSystem;
        static inline void Close(FileSystem& from, uintptr_t file);
    };
    HeldFile(FileSystem* from, uintptr_t file) : file_(from, file) {}

    Owned<Traits> file_;
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
    virtual bool CreateExclusive(const std::wstring& path, const std::string& bytes) = 0;
    // Creates a uniquely named empty file in a folder (prefix and a number, ".tmp"); false on failure.
    virtual bool MakeTempFile(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) = 0;
    // The short (8.3) form of a path; the path itself where there is none.
    virtual std::wstring ShortPath(const std::wstring& path) = 0;
    // Schedules a file to replace another at the next restart, or to be deleted then when `to` is empty.
    virtual bool MoveAtRestart(const std::wstring& from, const std::wstring& to) = 0;
    // Takes back a replacement that MoveAtRestart scheduled: the pair leaves the system's list of
    // restart-time operations. False when it is not there (or the list cannot be changed).
    virtual bool CancelMoveAtRestart(const std::wstring& from, const std::wstring& to) = 0;
    // File-system redirection of a 32-bit process on 64-bit Windows. Disable returns whether it was
    // switched off (and so must be reverted); false also when the system has no such function.
    virtual bool DisableRedirection() = 0;
    virtual void RevertRedirection() = 0;
    // The full form of a path as the current folder completes it; an absolute path comes back as it is.
    virtual std::wstring FullPath(const std::wstring& path) = 0;

    // Creates (always) the file, writes the bytes, and holds it open without write or delete sharing; the
    // content is read back under that hold and must be the bytes written. An empty owner when the file
    // cannot be created, written or held, or when someone changed it in between.
    HeldFile WriteAndHold(const std::wstring& path, const std::string& bytes) {
        return HeldFile(this, WriteAndHoldHandle(path, bytes));
    }

protected:
    friend class HeldFile;
    // What each backend provides: 0 on failure.
    virtual uintptr_t WriteAndHoldHandle(const std::wstring& path, const std::string& bytes) = 0;
    virtual void ReleaseHeldHandle(uintptr_t file) = 0;
};

void HeldFile::Traits::Close(FileSystem& from, uintptr_t file) {
    from.ReleaseHeldHandle(file);
}

} // namespace plat
