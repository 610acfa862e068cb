#include "ExternalDeviceLayer/VskLibrary.h"

#include <cstring>

namespace {

constexpr int kArchitectureItanium = 6;
constexpr int kArchitectureX64 = 9;

// An embedded payload is its image followed by the image's length as a 32-bit little-endian count. A
// resource whose count does not fit is treated as missing.
bool UnpackPayload(const std::vector<uint8_t>& resource, std::string& image) {
    if (resource.size() < 4)
        return false;
    const size_t end = resource.size() - 4;
    const uint32_t length =
        static_cast<uint32_t>(resource[end]) | static_cast<uint32_t>(resource[end + 1]) << 8 |
        static_cast<uint32_t>(resource[end + 2]) << 16 | static_cast<uint32_t>(resource[end + 3]) << 24;
    if (length > end)
        return false;
    image.assign(reinterpret_cast<const char*>(resource.data()), length);
    return true;
}

template <class Fn> Fn As(void* p) {
    Fn fn;
    static_assert(sizeof fn == sizeof p, "export pointers are data-pointer sized");
    std::memcpy(&fn, &p, sizeof fn);
    return fn;
}

} // namespace

CVskLibrary::CVskLibrary(plat::Platform& platform) : platform_(platform) {}

// Nothing is torn down: the library, the mapping and the users count stay until the process ends.
CVskLibrary::~CVskLibrary() {
    library_.KeepUntilExit();
    mapping_.KeepUntilExit();
}

int CVskLibrary::InitVSKLibrary() {
    if (referenceCount_ > 0) {
        ++referenceCount_;
        return 1;
    }
    library_.Reset();
    mapping_.Reset();
    wrapData_ = nullptr;
    win64_ = false;
    scheduledTemps_.clear();
    if (!BringUp())
        return 0;
    referenceCount_ = 1;
    return 1;
}

bool CVskLibrary::BringUp() {
    // One process at a time brings the service up: the mutex is held until this function returns, and
    // released before it is closed.
    plat::NamedMutex mutex = platform_.namedObjects->CreateNamedMutex(kMutexName);
    if (!mutex)
        return false;
    const plat::NamedMutex::Lock lock = mutex.Wait(kMutexWaitMs);
    if (!lock.Acquired())
        return false;
    mapping_ = platform_.namedObjects->OpenOrCreateMapping(kMappingName, sizeof(tagWrapData));
    wrapData_ = static_cast<tagWrapData*>(mapping_.View());
    if (wrapData_ && LoadOrInstall())
        return true;
    // The shared record is let go before the mutex.
    wrapData_ = nullptr;
    mapping_.Reset();
    return false;
}

bool CVskLibrary::LoadOrInstall() {
    if (mapping_.Created())
        std::memset(wrapData_, 0, sizeof(tagWrapData));
    const int architecture = platform_.env->NativeArchitecture();
    if (architecture == kArchitectureItanium)
        return false;
    win64_ = architecture == kArchitectureX64;
    library_ = platform_.libraries->Load(kLibraryName);
    if (library_) {
        // A library that is there but lacks an export is not replaced: the bring-up fails.
        if (!HasEveryExport())
            return false;
        LoadedOnce();
        return true;
    }
    // Whatever is written before a failing step goes again.
    if (!InstallFiles(win64_) || !WriteUninstallEntry(win64_)) {
        RemoveFiles(win64_);
        return false;
    }
    library_ = platform_.libraries->Load(kLibraryName);
    if (!library_ || !HasEveryExport()) {
        DeleteUninstallEntry(win64_);
        RemoveFiles(win64_);
        return false;
    }
    wrapData_->installed = 1;
    LoadedOnce();
    return true;
}

void CVskLibrary::LoadedOnce() {
    ++wrapData_->users;
}

bool CVskLibrary::HasEveryExport() {
    const bool complete = Export(csReadWrite_, kVskExportCsReadWrite) &&
                          Export(memRead_, kVskExportMemRead) && Export(memWrite_, kVskExportMemWrite) &&
                          Export(memMap64_, kVskExportMemMap64) && Export(memUnmap_, kVskExportMemUnmap) &&
                          Export(pciScanBus_, kVskExportPciScanBus);
    if (!complete) {
        // Without every export the cards could be found but not driven (or driven but not found): the
        // service is unusable, so it is not kept.
        library_.Reset();
        for (std::atomic<void*>* cache :
             {&csReadWrite_, &memRead_, &memWrite_, &memMap64_, &memUnmap_, &pciScanBus_})
            cache->store(nullptr, std::memory_order_relaxed);
    }
    return complete;
}

std::vector<CVskLibrary::PayloadTarget> CVskLibrary::PayloadTargets(bool win64) const {
    std::wstring windows = platform_.env->WindowsFolder();
    if (windows.empty() || windows.back() != L'\\')
        windows += L'\\';
    const std::wstring system = windows + L"System32";
    const std::wstring wow = windows + L"SysWOW64";
    if (win64) {
        return {{kPayloadDriver64, system + L"\\drivers\\VskVxdSC.sys"},
                {kPayloadLibrary32, wow + L"\\VskVxdSC.dll"},
                {kPayloadLibrary64, system + L"\\VskVxdSC.dll"},
                {kPayloadUninstaller, wow + L"\\VskVxdSCUninstall.exe"}};
    }
    return {{kPayloadDriver32, system + L"\\drivers\\VskVxdSC.sys"},
            {kPayloadLibrary32, system + L"\\VskVxdSC.dll"},
            {kPayloadUninstaller, system + L"\\VskVxdSCUninstall.exe"}};
}

std::wstring CVskLibrary::UninstallerPath(bool win64) const {
    return PayloadTargets(win64).back().path;
}

bool CVskLibrary::InstallFiles(bool win64) {
    for (const PayloadTarget& target : PayloadTargets(win64)) {
        std::vector<uint8_t> resource;
        std::string image;
        if (!platform_.resources->Find(target.resource, resource) || !UnpackPayload(resource, image))
            return false;
        if (!WritePayload(target.path, image, win64))
            return false;
    }
    return true;
}

bool CVskLibrary::WritePayload(const std::wstring& path, const std::string& image, bool redirect) {
    plat::FileSystem& files = *platform_.files;
    const bool redirected = redirect && files.DisableRedirection();
    bool ok = files.CreateExclusive(path, image);
    if (!ok) {
        // The target is in use: write the image beside it in the temporary folder and let the system put
        // it in place at the next restart.
        const std::wstring folder = files.ShortPath(platform_.env->TempPath());
        std::wstring temp;
        if (files.MakeTempFile(folder, L"vsk", temp)) {
            ok = files.CreateExclusive(temp, image) && files.MoveAtRestart(temp, path);
            if (ok)
                scheduledTemps_.emplace_back(temp, path);
            else
                files.RemoveFile(temp);
        }
    }
    if (redirected)
        files.RevertRedirection();
    return ok;
}

void CVskLibrary::RemoveFiles(bool win64) {
    plat::FileSystem& files = *platform_.files;
    // A replacement scheduled for the next restart is taken back and its temporary file deleted, so nothing
    // of a failed install reappears after the restart and no move is left that can only fail.
    for (const auto& [temp, target] : scheduledTemps_) {
        files.CancelMoveAtRestart(temp, target);
        files.RemoveFile(temp);
    }
    scheduledTemps_.clear();
    for (const PayloadTarget& target : PayloadTargets(win64)) {
        const bool redirected = win64 && files.DisableRedirection();
        const bool gone = !files.FileExists(target.path) || files.RemoveFile(target.path) ||
                          files.MoveAtRestart(target.path, std::wstring());
        if (redirected)
            files.RevertRedirection();
        if (!gone)
            return;
    }
}

bool CVskLibrary::WriteUninstallEntry(bool win64) {
    plat::Registry& registry = *platform_.registry;
    if (registry.CreateKey(kUninstallKey, win64) != plat::kErrorSuccess)
        return false;
    const bool written =
        registry.SetValue(kUninstallKey, L"DisplayName",
                          plat::RegValue::WideString(L"Veskora VskVxdSC Services"),
                          win64) == plat::kErrorSuccess &&
        registry.SetValue(kUninstallKey, L"UninstallString",
                          plat::RegValue::WideString(UninstallerPath(win64)), win64) == plat::kErrorSuccess;
    // A key with only part of its values would offer an uninstaller for files that are not there.
    if (!written)
        DeleteUninstallEntry(win64);
    return written;
}

void CVskLibrary::DeleteUninstallEntry(bool win64) {
    platform_.registry->DeleteKey(kUninstallKey, win64);
}

void* CVskLibrary::Export(std::atomic<void*>& cache, const char* name) {
    if (!library_)
        return nullptr;
    void* fn = cache.load(std::memory_order_relaxed);
    if (!fn) {
        // Two threads may resolve at once; both store the same pointer.
        fn = library_.Resolve(name);
        cache.store(fn, std::memory_order_relaxed);
    }
    return fn;
}

uint32_t CVskLibrary::HwReadConfig(uint32_t hPci, uint32_t offset, uint32_t* value) {
    void* fn = Export(csReadWrite_, kVskExportCsReadWrite);
    return fn ? As<VskCsReadWriteFn>(fn)(hPci, offset, value, 4, 0) : 0;
}

uint32_t CVskLibrary::HwWriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) {
    void* fn = Export(csReadWrite_, kVskExportCsReadWrite);
    uint32_t copy = value;
    return fn ? As<VskCsReadWriteFn>(fn)(hPci, offset, &copy, 4, 1) : 0;
}

uint32_t CVskLibrary::HwReadMem(uintptr_t base, uint32_t offset, uint32_t* value) {
    void* fn = Export(memRead_, kVskExportMemRead);
    return fn ? As<VskMemReadFn>(fn)(base, offset, value, 4) : 0;
}

uint32_t CVskLibrary::HwWriteMem(uintptr_t base, uint32_t offset, uint32_t value) {
    void* fn = Export(memWrite_, kVskExportMemWrite);
    const uint32_t copy = value;
    return fn ? As<VskMemWriteFn>(fn)(base, offset, &copy, 4) : 0;
}

uintptr_t CVskLibrary::HwMapMem(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length,
                                uint32_t flags) {
    void* fn = Export(memMap64_, kVskExportMemMap64);
    return fn ? As<VskMemMap64Fn>(fn)(physicalLow, physicalHigh, length, flags) : 0;
}

uint32_t CVskLibrary::HwUnmapMem(uintptr_t base) {
    void* fn = Export(memUnmap_, kVskExportMemUnmap);
    return fn ? As<VskMemUnmapFn>(fn)(base) : 0;
}

uint32_t CVskLibrary::HwScanBus(VskPciScanCallback callback, void* context) {
    void* fn = Export(pciScanBus_, kVskExportPciScanBus);
    return fn ? As<VskPciScanBusFn>(fn)(callback, context) : 0;
}
