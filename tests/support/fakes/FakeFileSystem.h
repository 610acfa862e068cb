// An in-memory plat::FileSystem for unit tests: files and folders by path, with faults that can be switched
// on per path. Narrow paths are widened byte by byte (each byte becomes the character of the same value), so
// ASCII paths name the same file in both forms. Paths are compared exactly (no case folding, no separator
// rewriting). Safe to use from several threads once set up (FaultsFor hands out a reference: set faults
// before other threads run).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

class FakeFileSystem : public plat::FileSystem {
public:
    // Faults of one path. Reading checks them in the order a real read meets them: open, size, memory, read.
    struct Faults {
        bool openFails = false;   // ReadWhole: OpenFailed; Append/WriteWhole: false
        bool sizeFails = false;   // ReadWhole: SizeFailed
        bool outOfMemory = false; // ReadWhole: OutOfMemory
        bool readFails = false;   // ReadWhole: ReadFailed
        bool writeFails = false;  // Append/WriteWhole: false, the file unchanged
        bool removeFails = false; // RemoveFile: false, the file kept
        bool mkdirFails = false;  // MakeDirectory: false
    };

    static std::wstring Widen(const std::string& path);

    // Test set-up and inspection.
    void SetFile(const std::wstring& path, const std::string& bytes);
    void SetFile(const std::string& path, const std::string& bytes) { SetFile(Widen(path), bytes); }
    bool HasFile(const std::wstring& path) const;
    // The file's bytes; empty text when there is no such file.
    std::string FileText(const std::wstring& path) const;
    bool HasDirectory(const std::wstring& path) const;
    // Faults for a path (created all off on first use); change them through the reference.
    Faults& FaultsFor(const std::wstring& path);
    Faults& FaultsFor(const std::string& path) { return FaultsFor(Widen(path)); }
    // How many times ReadWhole was asked for a path, whatever the outcome.
    int ReadCount(const std::wstring& path) const;
    int ReadCount(const std::string& path) const { return ReadCount(Widen(path)); }

    // plat::FileSystem
    plat::ReadStatus ReadWhole(const std::string& path, std::vector<uint8_t>& data) override;
    plat::ReadStatus ReadWhole(const std::wstring& path, std::vector<uint8_t>& data) override;
    bool Append(const std::wstring& path, const std::string& bytes) override;
    bool WriteWhole(const std::wstring& path, const std::string& bytes) override;
    // False when the folder or a file of that name already exists, as on Windows; parents are not checked.
    bool MakeDirectory(const std::wstring& path) override;
    bool RemoveFile(const std::wstring& path) override;
    // True for files only, not folders.
    bool FileExists(const std::wstring& path) override;
    // Nothing can be created exclusively, made temporary or scheduled for the restart; paths are their own
    // short form and there is no redirection. Tests that need these override them.
    bool CreateExclusive(const std::wstring&, const std::string&) override { return false; }
    bool MakeTempFile(const std::wstring&, const std::wstring&, std::wstring&) override { return false; }
    std::wstring ShortPath(const std::wstring& path) override { return path; }
    bool MoveAtRestart(const std::wstring&, const std::wstring&) override { return false; }
    bool CancelMoveAtRestart(const std::wstring&, const std::wstring&) override { return false; }
    bool DisableRedirection() override { return false; }
    void RevertRedirection() override {}
    // Relative paths are completed by `currentFolder`.
    std::wstring FullPath(const std::wstring& path) override {
        const bool absolute =
            (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') || (!path.empty() && path[0] == L'\\');
        return absolute ? path : currentFolder + path;
    }
    std::wstring currentFolder = L"C:\\Work\\";
    // Held files: written like WriteWhole; `heldFiles` counts the holds still open.
    int heldFiles = 0;

protected:
    uintptr_t WriteAndHoldHandle(const std::wstring& path, const std::string& bytes) override {
        if (!WriteWhole(path, bytes))
            return 0;
        ++heldFiles;
        return 1;
    }
    void ReleaseHeldHandle(uintptr_t) override { --heldFiles; }

public:
private:
    Faults FaultsOf(const std::wstring& path) const;

    mutable std::mutex mutex_;
    std::map<std::wstring, std::string> files_;
    std::set<std::wstring> directories_;
    std::map<std::wstring, Faults> faults_;
    std::map<std::wstring, int> reads_;
};
