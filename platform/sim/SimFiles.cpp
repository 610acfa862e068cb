// Files and registry of the simulated machine: Windows paths mapped into the machine folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <new>

#include "platform/sim/SimParts.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"

namespace plat::simbackend {

namespace {

static_assert(sim::kRegSuccess == kErrorSuccess && sim::kRegNotFound == kErrorFileNotFound &&
                  sim::kRegAccessDenied == kErrorAccessDenied && sim::kRegMoreData == kErrorMoreData,
              "the store returns the Win32 values");

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// Whether this thread has switched file-system redirection off.
thread_local bool t_redirectionDisabled = false;

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
constexpr uint32_t kRegMultiSz = 7;

bool WriteAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    size_t size = bytes.size();
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

ReadStatus ReadMapped(const std::string& path, std::vector<uint8_t>& data) {
    // Opened without waiting: a FIFO would otherwise block the open until some writer came.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.Get() < 0)
        return ReadStatus::OpenFailed;
    if (::fstat(fd.Get(), &st) != 0)
        return ReadStatus::SizeFailed;
    // Only a regular file has a size and an end: a folder, FIFO, socket or device cannot be read whole (and
    // Windows refuses to open a folder as a file).
    if (!S_ISREG(st.st_mode))
        return ReadStatus::OpenFailed;
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return ReadStatus::ReadFailed;
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        return ReadStatus::OutOfMemory;
    } catch (const std::length_error&) {
        return ReadStatus::OutOfMemory;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return ReadStatus::ReadFailed;
        done += static_cast<size_t>(n);
    }
    data.swap(bytes);
    return ReadStatus::Ok;
}

} // namespace

std::string SimFileSystem::Map(const std::wstring& path) const {
    std::string windowsPath = sim::ToUtf8(path);
    if (machine_.description.os64 && !t_redirectionDisabled)
        windowsPath = sim::RedirectSystem32(windowsPath);
    return sim::MapPath(machine_.dir, windowsPath);
}

std::string SimFileSystem::MapForChange(const std::wstring& path) const {
    const std::string mapped = Map(path);
    return sim::InsideMachine(machine_.dir, mapped) ? mapped : std::string();
}

ReadStatus SimFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data) {
    return ReadMapped(sim::MapPath(machine_.dir, path), data);
}

ReadStatus SimFileSystem::ReadWhole(const std::wstring& path, std::vector<uint8_t>& data) {
    return ReadMapped(Map(path), data);
}

bool SimFileSystem::Append(const std::wstring& path, const std::string& bytes) {
    Descriptor fd(::open(MapForChange(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    return fd.Get() >= 0 && WriteAll(fd.Get(), bytes);
}

bool SimFileSystem::WriteWhole(const std::wstring& path, const std::string& bytes) {
    Descriptor fd(::open(MapForChange(path).c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0644));
    return fd.Get() >= 0 && WriteAll(fd.Get(), bytes);
}

bool SimFileSystem::MakeDirectory(const std::wstring& path) {
    return ::mkdir(MapForChange(path).c_str(), 0755) == 0;
}

bool SimFileSystem::Locked(const std::string& mappedPath) const {
    const std::string& list = machine_.description.lockedFiles;
    if (list.empty())
        return false;
    const std::string folded = sim::FoldCaseAscii(mappedPath);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        std::string entry = list.substr(start, end - start);
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (!entry.empty() && sim::FoldCaseAscii(sim::MapPath(machine_.dir, entry)) == folded)
            return true;
        start = end + 1;
    }
    return false;
}

bool SimFileSystem::RemoveFile(const std::wstring& path) {
    const std::string mapped = MapForChange(path);
    return !Locked(mapped) && ::unlink(mapped.c_str()) == 0;
}

bool SimFileSystem::FileExists(const std::wstring& path) {
    struct stat st {};
    return ::stat(Map(path).c_str(), &st) == 0;
}

bool SimFileSystem::CreateExclusive(const std::wstring& path, const std::string& bytes) {
    const std::string mapped = MapForChange(path);
    if (Locked(mapped))
        return false;
    Descriptor fd(::open(mapped.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    return ::ftruncate(fd.Get(), 0) == 0 && WriteAll(fd.Get(), bytes);
}

bool SimFileSystem::MakeTempFile(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\')
        base += L'\\';
    base += prefix.substr(0, 3);
    const unsigned start = static_cast<unsigned>(::getpid()) & 0xFFFF;
    for (unsigned i = 0; i < 0x10000; ++i) {
        wchar_t number[8];
        std::swprintf(number, 8, L"%X", (start + i) % 0xFFFF + 1);
        const std::wstring candidate = base + number + L".tmp";
        const int fd = ::open(MapForChange(candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            path = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool SimFileSystem::MoveAtRestart(const std::wstring& from, const std::wstring& to) {
    if (machine_.description.restartMovesFail || MapForChange(from).empty() ||
        (!to.empty() && MapForChange(to).empty()))
        return false;
    auto ntPath = [](const std::wstring& p) { return p.empty() ? p : L"\\??\\" + p; };
    sim::RegistryStore store(machine_.dir);
    if (store.CreateKey(kSessionManager) != kErrorSuccess)
        return false;
    return store.Edit([&](sim::RegTree& tree) {
        const auto key = tree.find(sim::FoldCase(sim::RegistryStore::NormalizePath(kSessionManager)));
        if (key == tree.end())
            return sim::kRegNotFound; // deleted in between
        sim::RegEntry& entry = key->second.values[sim::FoldCase(kPendingRenames)];
        entry.name = kPendingRenames;
        entry.type = kRegMultiSz;
        // A list of null-terminated strings, closed by one more null: drop the closing null, add the pair.
        if (entry.data.size() >= 2)
            entry.data.resize(entry.data.size() - 2);
        entry.data += sim::EncodeUtf16Le(ntPath(from), true) + sim::EncodeUtf16Le(ntPath(to), true);
        entry.data.append(2, '\0');
        return sim::kRegSuccess;
    }) == kErrorSuccess;
}

bool SimFileSystem::CancelMoveAtRestart(const std::wstring& from, const std::wstring& to) {
    auto ntPath = [](const std::wstring& p) { return p.empty() ? p : L"\\??\\" + p; };
    sim::RegistryStore store(machine_.dir);
    return store.Edit([&](sim::RegTree& tree) {
        const auto key = tree.find(sim::FoldCase(sim::RegistryStore::NormalizePath(kSessionManager)));
        if (key == tree.end())
            return sim::kRegNotFound;
        const auto value = key->second.values.find(sim::FoldCase(kPendingRenames));
        if (value == key->second.values.end())
            return sim::kRegNotFound;
        // The strings of the list, each closed by a null; the pairs are (from, to).
        const std::string& data = value->second.data;
        std::wstring all;
        for (size_t i = 0; i + 1 < data.size(); i += 2)
            all += static_cast<wchar_t>(static_cast<unsigned char>(data[i]) |
                                        static_cast<unsigned char>(data[i + 1]) << 8);
        std::vector<std::wstring> strings;
        for (size_t start = 0; start < all.size();) {
            const size_t end = all.find(L'\0', start);
            if (end == std::wstring::npos || (end == start && strings.size() % 2 == 0))
                break; // the closing null (an empty source ends the list)
            strings.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        for (size_t i = 0; i + 1 < strings.size(); i += 2) {
            if (sim::FoldCase(strings[i]) == sim::FoldCase(ntPath(from)) &&
                sim::FoldCase(strings[i + 1]) == sim::FoldCase(ntPath(to))) {
                strings.erase(strings.begin() + static_cast<std::ptrdiff_t>(i),
                              strings.begin() + static_cast<std::ptrdiff_t>(i + 2));
                if (strings.empty()) {
                    key->second.values.erase(value);
                    return sim::kRegSuccess;
                }
                std::string list;
                for (const std::wstring& text : strings)
                    list += sim::EncodeUtf16Le(text, true);
                value->second.data = list + std::string(2, '\0');
                return sim::kRegSuccess;
            }
        }
        return sim::kRegNotFound;
    }) == kErrorSuccess;
}

bool SimFileSystem::DisableRedirection() {
    if (!machine_.description.os64)
        return false;
    t_redirectionDisabled = true;
    return true;
}

void SimFileSystem::RevertRedirection() {
    t_redirectionDisabled = false;
}

std::wstring SimRegistry::View(const std::wstring& path, bool view32) const {
    // The 32-bit view of 64-bit Windows keeps its own SOFTWARE keys under WOW6432Node.
    static const std::wstring kSoftware = L"SOFTWARE\\";
    if (!view32 || !os64_ || path.size() < kSoftware.size() ||
        sim::FoldCase(path.substr(0, kSoftware.size())) != sim::FoldCase(kSoftware))
        return path;
    const std::wstring rest = path.substr(kSoftware.size());
    static const std::wstring kNode = L"WOW6432Node";
    if (sim::FoldCase(rest.substr(0, kNode.size())) == sim::FoldCase(kNode))
        return path;
    return kSoftware + kNode + L"\\" + rest;
}

std::wstring SimFileSystem::FullPath(const std::wstring& path) {
    // Drive paths, UNC paths and host paths are complete; anything else is completed by the current
    // folder: as a Windows path when it lies on one of the machine's drives, else as a host path.
    if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
        return path;
    if (!path.empty() && (path[0] == L'/' || path[0] == L'\\'))
        return path;
    return CurrentFolder() + path;
}

std::wstring SimFileSystem::CurrentFolder() const {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) == nullptr)
        return L"";
    const std::string host = buffer;
    const std::string prefix = machine_.dir + "/";
    if (host.size() > prefix.size() + 1 && host.compare(0, prefix.size(), prefix) == 0 &&
        (host.size() == prefix.size() + 1 || host[prefix.size() + 1] == '/')) {
        std::string windows = host.substr(prefix.size(), 1) + ":" + host.substr(prefix.size() + 1);
        for (char& c : windows)
            if (c == '/')
                c = '\\';
        if (windows.size() == 2)
            windows += '\\';
        if (windows.back() != '\\')
            windows += '\\';
        return sim::FromUtf8(windows);
    }
    return sim::FromUtf8(host + "/");
}

uintptr_t SimFileSystem::WriteAndHoldHandle(const std::wstring& path, const std::string& bytes) {
    const std::string mapped = Map(path);
    if (Locked(mapped))
        return 0;
    // The lock is what "no sharing" is here: CreateExclusive of anyone else fails while it is held.
    const int fd = ::open(mapped.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    std::string back;
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd, 0) == 0 && WriteAll(fd, bytes) &&
              ::lseek(fd, 0, SEEK_SET) == 0;
    char chunk[65536];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        back.append(chunk, static_cast<size_t>(n));
    }
    if (!ok || back != bytes) {
        ::close(fd);
        return 0;
    }
    return static_cast<uintptr_t>(fd) + 1;
}

void SimFileSystem::ReleaseHeldHandle(uintptr_t file) {
    ::close(static_cast<int>(file - 1));
}

long SimRegistry::CreateKey(const std::wstring& path, bool view32) {
    return store_.CreateKey(View(path, view32));
}

bool SimRegistry::KeyExists(const std::wstring& path, bool view32) {
    return store_.KeyExists(View(path, view32));
}

long SimRegistry::QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes,
                             RegValue& out, bool view32) {
    uint32_t type = 0;
    std::string data;
    const long status = store_.QueryValue(View(path, view32), name, maxBytes, type, data);
    if (status == kErrorSuccess) {
        out.type = static_cast<RegType>(type);
        out.data.swap(data);
    }
    return status;
}

long SimRegistry::SetValue(const std::wstring& path, const std::wstring& name, const RegValue& value,
                           bool view32) {
    return store_.SetValue(View(path, view32), name, static_cast<uint32_t>(value.type), value.data);
}

long SimRegistry::DeleteValue(const std::wstring& path, const std::wstring& name, bool view32) {
    return store_.DeleteValue(View(path, view32), name);
}

long SimRegistry::DeleteKey(const std::wstring& path, bool view32) {
    return store_.DeleteKey(View(path, view32));
}

} // namespace plat::simbackend
