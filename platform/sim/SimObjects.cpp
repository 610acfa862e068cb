// Named objects shared between the processes of the simulated machine, run-time libraries and resources.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/sim/SimParts.h"
#include "sim/DisplayLibrary.h"
#include "sim/Files.h"
#include "sim/HwService.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"

namespace plat::simbackend {

namespace {

// Object names become file names: letters, digits, '-', '_' and '.' stay, anything else is %XX.
std::string FileNameOf(const std::wstring& name) {
    std::string out;
    for (const char ch : sim::ToUtf8(name)) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

} // namespace

std::string SimNamedObjects::ObjectPath(const std::string& kind, const std::wstring& name) const {
    const std::string folder = machine_.dir + "/objects";
    sim::MakeDirectories(folder);
    return folder + "/" + kind + "-" + FileNameOf(name);
}

uintptr_t SimNamedObjects::AddObject(int fd, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    objects_[handle] = Object{fd, size};
    return handle;
}

bool SimNamedObjects::FindObject(uintptr_t handle, Object& object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(handle);
    if (it == objects_.end())
        return false;
    object = it->second;
    return true;
}

uintptr_t SimNamedObjects::CreateMutexHandle(const std::wstring& name) {
    const int fd = ::open(ObjectPath("mutex", name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    return fd < 0 ? 0 : AddObject(fd, 0);
}

NamedMutex::WaitResult SimNamedObjects::WaitForMutex(uintptr_t mutex, uint32_t milliseconds) {
    Object object;
    if (!FindObject(mutex, object))
        return NamedMutex::WaitResult::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (::flock(object.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return NamedMutex::WaitResult::Failed;
        if (milliseconds != 0xFFFFFFFFu && std::chrono::steady_clock::now() >= deadline)
            return NamedMutex::WaitResult::Timeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // An owner that released the mutex cleared the file; one that died left its process id in it.
    char previous[24] = {};
    const ssize_t length = ::pread(object.fd, previous, sizeof previous - 1, 0);
    const std::string owner = std::to_string(::getpid());
    const bool abandoned = length > 0 && owner != previous;
    if (::ftruncate(object.fd, 0) != 0 || ::pwrite(object.fd, owner.data(), owner.size(), 0) < 0) {
        // The lock is held all the same; only abandonment detection suffers.
    }
    return abandoned ? NamedMutex::WaitResult::Abandoned : NamedMutex::WaitResult::Acquired;
}

void SimNamedObjects::ReleaseMutexHandle(uintptr_t mutex) {
    Object object;
    if (!FindObject(mutex, object))
        return;
    if (::ftruncate(object.fd, 0) != 0) {
        // Next owner will see the mutex as abandoned; nothing better can be done here.
    }
    ::flock(object.fd, LOCK_UN);
}

uintptr_t SimNamedObjects::OpenOrCreateMappingHandle(const std::wstring& name, uint32_t size, bool& created) {
    created = false;
    const std::string path = ObjectPath("mapping", name);
    // One opener at a time, so that two first openers do not both create.
    sim::FileLock guard(path + ".lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // Nobody else holds it open: the mapping does not exist any more on Windows, so start afresh.
    const bool fresh = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fresh && (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, size) != 0)) {
        ::close(fd);
        return 0;
    }
    struct stat st {};
    if (::flock(fd, LOCK_SH) != 0 || ::fstat(fd, &st) != 0 || st.st_size <= 0) {
        ::close(fd);
        return 0;
    }
    created = fresh;
    return AddObject(fd, static_cast<size_t>(st.st_size));
}

void* SimNamedObjects::MapView(uintptr_t mapping) {
    Object object;
    if (!FindObject(mapping, object) || object.size == 0)
        return nullptr;
    void* view = ::mmap(nullptr, object.size, PROT_READ | PROT_WRITE, MAP_SHARED, object.fd, 0);
    if (view == MAP_FAILED)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    views_[view] = object.size;
    return view;
}

void SimNamedObjects::UnmapView(void* view) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = views_.find(view);
    if (it == views_.end())
        return;
    ::munmap(it->first, it->second);
    views_.erase(it);
}

void SimNamedObjects::CloseObject(uintptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(handle);
    if (it == objects_.end())
        return;
    ::close(it->second.fd);
    objects_.erase(it);
}

// The module handles of the hardware-access library and of the display library.
constexpr uintptr_t kServiceModule = 0x6E000000;
constexpr uintptr_t kDisplayLibraryModule = 0x6F000000;

namespace {

// The Windows paths a load of `name` tries, in order: a full path is the one file (the 32-bit program on
// 64-bit Windows sees SysWOW64 as its system folder); a bare name is searched in the program's folder, the
// system folder and the Windows folder.
std::vector<std::string> LoadCandidates(const sim::MachineDescription& m, const std::wstring& name) {
    std::vector<std::string> candidates;
    const std::string text = sim::ToUtf8(name);
    if (text.find_last_of('\\') != std::string::npos) {
        std::string path = text;
        const std::string system = "c:\\windows\\system32\\";
        if (m.os64 && sim::FoldCaseAscii(path.substr(0, system.size())) == sim::FoldCaseAscii(system))
            path = "C:\\Windows\\SysWOW64\\" + path.substr(system.size());
        candidates.push_back(path);
        return candidates;
    }
    const size_t slash = m.programPath.find_last_of('\\');
    if (slash != std::string::npos)
        candidates.push_back(m.programPath.substr(0, slash + 1) + text);
    candidates.push_back((m.os64 ? "C:\\Windows\\SysWOW64\\" : "C:\\Windows\\System32\\") + text);
    candidates.push_back("C:\\Windows\\" + text);
    return candidates;
}

} // namespace

bool SimLibraries::ServiceInstalled(const std::wstring& name) const {
    const sim::MachineDescription& m = machine_.description;
    if (m.hwServiceInstalled)
        return true;
    const std::vector<std::string> candidates = LoadCandidates(m, name);
    for (const std::string& candidate : candidates) {
        struct stat st {};
        const std::string path = sim::MapPath(machine_.dir, candidate);
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return true;
    }
    return false;
}

bool SimLibraries::DisplayLibraryFound(const std::wstring& name) const {
    const sim::MachineDescription& m = machine_.description;
    const std::vector<std::string> installed = sim::DisplayLibraryPaths(m);
    for (const std::string& candidate : LoadCandidates(m, name)) {
        for (const std::string& path : installed)
            if (sim::FoldCaseAscii(path) == sim::FoldCaseAscii(candidate))
                return true;
        // Any other file of that name is loaded as well: a copy someone put there.
        struct stat st {};
        const std::string file = sim::MapPath(machine_.dir, candidate);
        if (!file.empty() && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return true;
    }
    return false;
}

uintptr_t SimLibraries::LoadHandle(const std::wstring& name) {
    const size_t separator = name.find_last_of(L'\\');
    const std::wstring base = separator == std::wstring::npos ? name : name.substr(separator + 1);
    const std::wstring folded = sim::FoldCase(base);
    if (folded == sim::FoldCase(L"atiadlxx.dll") || folded == sim::FoldCase(L"atiadlxy.dll")) {
        if (!DisplayLibraryFound(name))
            return 0;
        sim::AttachDisplayLibrary(machine_.dir);
        return kDisplayLibraryModule;
    }
    if (sim::FoldCase(base) != sim::FoldCase(L"VskVxdSC.dll") || !ServiceInstalled(name))
        return 0;
    sim::AttachService(machine_.dir);
    return kServiceModule;
}

void* SimLibraries::ResolveExport(uintptr_t library, const char* symbol) {
    if (library == kDisplayLibraryModule)
        return sim::DisplayLibraryExport(symbol);
    if (library != kServiceModule || !symbol)
        return nullptr;
    // The description can leave exports out: "hw-service-missing = memWrite;memRead".
    const std::string missing = ";" + sim::FoldCaseAscii(machine_.description.hwServiceMissing) + ";";
    std::string folded = sim::FoldCaseAscii(symbol);
    std::string list;
    for (char c : missing)
        if (c != ' ' && c != '\t')
            list += c == ',' ? ';' : c;
    if (list.find(";" + folded + ";") != std::string::npos)
        return nullptr;
    struct Export {
        const char* name;
        void* address;
    };
    auto address = [](auto function) {
        void* p = nullptr;
        static_assert(sizeof function == sizeof p, "exports are data-pointer sized");
        std::memcpy(&p, &function, sizeof p);
        return p;
    };
    const Export exports[] = {
        {kVskExportCsReadWrite, address(&SimCsReadWrite)}, {kVskExportMemRead, address(&SimMemRead)},
        {kVskExportMemWrite, address(&SimMemWrite)},       {kVskExportMemMap64, address(&SimMemMap64)},
        {kVskExportMemUnmap, address(&SimMemUnmap)},       {kVskExportPciScanBus, address(&SimPciScanBus)},
    };
    // Export names match exactly, as GetProcAddress matches them.
    for (const Export& e : exports)
        if (std::strcmp(e.name, symbol) == 0)
            return e.address;
    return nullptr;
}

void SimLibraries::FreeHandle(uintptr_t) {}

bool SimResources::Find(const std::string& name, std::vector<uint8_t>& data) {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.')
        return false;
    std::string bytes;
    if (!sim::ReadFile(machine_.dir + "/resources/" + name, bytes))
        return false;
    data.assign(bytes.begin(), bytes.end());
    return true;
}

} // namespace plat::simbackend
