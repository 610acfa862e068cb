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
CVskLibrary::~CVskLibrary() = default;

int CVskLibrary::InitVSKLibrary() {
    if (referenceCount_ > 0) {
        ++referenceCount_;
        return 1;
    }
    library_ = 0;
    mapping_ = 0;
    view_ = nullptr;
    win64_ = false;
    scheduledTemps_.clear();
    if (!BringUp())
        return 0;
    referenceCount_ = 1;
    return 1;
}

bool CVskLibrary::BringUp() {
    plat::Processes& processes = *platform_.processes;
    const uintptr_t mutex = processes.CreateNamedMutex(kMutexName);
    if (!mutex)
        return false;
    bool ok = false;
    if (processes.WaitForMutex(mutex, kMutexWaitMs) == plat::Processes::WaitResult::Acquired) {
        bool created = false;
        mapping_ = processes.OpenOrCreateMapping(kMappingName, sizeof(tagWrapData), created);
        view_ = mapping_ ? processes.MapView(mapping_) : nullptr;
        if (view_) {
            if (created)
                std::memset(view_, 0, sizeof(tagWrapData));
            const int architecture = platform_.env->NativeArchitecture();
            if (architecture != kArchitectureItanium) {
                win64_ = architecture == kArchitectureX64;
                library_ = platform_.libraries->Load(kLibraryName);
                if (library_) {
                    // A library that is there but lacks an export is not replaced: the bring-up fails.
                    ok = HasEveryExport();
                    if (ok)
                        LoadedOnce();
                } else if (InstallFiles(win64_)) {
                    if (WriteUninstallEntry(win64_)) {
                        library_ = platform_.libraries->Load(kLibraryName);
                        if (library_ && HasEveryExport()) {
                            static_cast<tagWrapData*>(view_)->installed = 1;
                            LoadedOnce();
                            ok = true;
                        } else {
                            DeleteUninstallEntry(win64_);
                        }
                    }
                    if (!ok)
                        RemoveFiles(win64_);
                } else {
                    // Whatever was written before the failing file goes again.
                    RemoveFiles(win64_);
                }
            }
        }
        if (!ok) {
            if (view_)
                processes.UnmapView(view_);
            if (mapping_)
                processes.CloseHandle(mapping_);
            view_ = nullptr;
            mapping_ = 0;
        }
    }
    processes.ReleaseNamedMutex(mutex);
    processes.CloseHandle(mutex);
    return ok;
}

void CVskLibrary::LoadedOnce() {
    ++static_cast<tagWrapData*>(view_)->users;
}

bool CVskLibrary::HasEveryExport() {
    const bool complete = Export(csReadWrite_, kVskExportCsReadWrite) &&
                          Export(memRead_, kVskExportMemRead) && Export(memWrite_, kVskExportMemWrite) &&
                          Export(memMap64_, kVskExportMemMap64) && Export(memUnmap_, kVskExportMemUnmap) &&
                          Export(pciScanBus_, kVskExportPciScanBus);
    if (!complete) {
        // Without every export the cards could be found but not driven (or driven but not found): the
        // service is unusable, so it is not kept.
        platform_.libraries->Free(library_);
        library_ = 0;
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
                scheduledTemps_.push_back(temp);
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
    // A replacement scheduled for the next restart finds no file to move once its temporary file is gone,
    // so nothing of a failed install reappears after the restart.
    for (const std::wstring& temp : scheduledTemps_)
        files.RemoveFile(temp);
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
        fn = platform_.libraries->Resolve(library_, name);
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
