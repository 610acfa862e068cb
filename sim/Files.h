// File helpers of the simulated machine: whole-file reads, writes that survive a crash at any point (temp
// file, fsync, rename, fsync of the folder), and an exclusive lock between processes and threads.
#pragma once

#include <string>

namespace sim {

bool ReadFile(const std::string& path, std::string& data);
// Replaces the file atomically: readers see the old or the new content, never a mix, and a crash leaves at
// most a "<name>.tmp.<pid>" file beside it, which nothing reads.
bool WriteFileAtomic(const std::string& path, const std::string& data);
bool MakeDirectories(const std::string& path);
bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);

// Holds flock(LOCK_EX) on a lock file for its lifetime. Each instance opens its own descriptor, so it also
// excludes other threads of the same process.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace sim
