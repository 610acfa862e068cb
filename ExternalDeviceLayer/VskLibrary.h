// The client of the hardware-access service VskVxdSC: brings it up once per process (installing its files
// when its library does not load) and calls its exports, each resolved on first use.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ExternalDeviceLayer/HwAccess.h"
#include "platform/Platform.h"

// The record shared through the named mapping by every process of this program on the machine.
struct tagWrapData {
    uint32_t installed; // 1 once a process installed the files and then loaded the library
    uint32_t users;     // successful loads since the mapping was created
};

class CVskLibrary : public CHwAccess {
public:
    static constexpr const wchar_t* kLibraryName = L"VskVxdSC.dll";
    static constexpr const wchar_t* kMutexName = L"Global\\VskVxdSCWrapMutex";
    static constexpr const wchar_t* kMappingName = L"Global\\VskVxdSCWrapData";
    static constexpr uint32_t kMutexWaitMs = 4000;
    static constexpr const wchar_t* kUninstallKey =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VskVxdSC";
    // Embedded payloads: the image followed by its length as a 32-bit little-endian count.
    static constexpr const char* kPayloadLibrary32 = "VSKLIB32";
    static constexpr const char* kPayloadLibrary64 = "VSKLIB64";
    static constexpr const char* kPayloadDriver32 = "VSKSYS32";
    static constexpr const char* kPayloadDriver64 = "VSKSYS64";
    static constexpr const char* kPayloadUninstaller = "VSKUNINST";

    explicit CVskLibrary(plat::Platform& platform);
    ~CVskLibrary() override;
    CVskLibrary(const CVskLibrary&) = delete;
    CVskLibrary& operator=(const CVskLibrary&) = delete;

    // 1 when the service is up (brought up now or earlier in this process), 0 when bring-up failed; a
    // failed bring-up is tried again by the next call.
    int InitVSKLibrary();

    uint32_t HwReadConfig(uint32_t hPci, uint32_t offset, uint32_t* value) override;
    uint32_t HwWriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) override;
    uint32_t HwReadMem(uintptr_t base, uint32_t offset, uint32_t* value) override;
    uint32_t HwWriteMem(uintptr_t base, uint32_t offset, uint32_t value) override;
    uintptr_t HwMapMem(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length, uint32_t flags) override;
    uint32_t HwUnmapMem(uintptr_t base) override;
    uint32_t HwScanBus(VskPciScanCallback callback, void* context) override;

    // Where each payload goes: the Windows folder, then System32 or SysWOW64, then the file's name.
    struct PayloadTarget {
        const char* resource;
        std::wstring path;
    };
    // The files to install, in order, for 32- or 64-bit Windows.
    std::vector<PayloadTarget> PayloadTargets(bool win64) const;
    std::wstring UninstallerPath(bool win64) const;

    int ReferenceCount() const { return referenceCount_; }

private:
    bool BringUp();
    // With the mutex held and the shared record mapped: loads the library, or installs it and loads it.
    bool LoadOrInstall();
    bool InstallFiles(bool win64);
    bool WritePayload(const std::wstring& path, const std::string& image, bool redirect);
    void RemoveFiles(bool win64);
    bool WriteUninstallEntry(bool win64);
    void DeleteUninstallEntry(bool win64);
    void LoadedOnce();
    bool HasEveryExport();
    void* Export(std::atomic<void*>& cache, const char* name);

    plat::Platform& platform_;
    plat::Library library_;
    plat::SharedMapping mapping_;
    tagWrapData* wrapData_ = nullptr; // the mapping's view
    int referenceCount_ = 0;
    bool win64_ = false;
    // Temporary files that replace a target at the next restart, with their targets.
    std::vector<std::pair<std::wstring, std::wstring>> scheduledTemps_;
    std::atomic<void*> csReadWrite_{nullptr};
    std::atomic<void*> memRead_{nullptr};
    std::atomic<void*> memWrite_{nullptr};
    std::atomic<void*> memMap64_{nullptr};
    std::atomic<void*> memUnmap_{nullptr};
    std::atomic<void*> pciScanBus_{nullptr};
};
