// The program-wide binder of the display library: loads "atiadlxx", else "atiadlxy", from the system folder
// only (the program runs with administrator rights, so a copy beside it must never be loaded), resolves
// every entry point of the bind list in order, creates the library's context, and offers the wrappers the
// program calls. Every wrapper follows one rule: -2 while no context is held (or the mode is not 2), -8
// for an optional entry point the library lacks, else the entry point's own result. The environment
// variable "ADL_4KWORKAROUND_CANCEL" is "true" from construction to destruction. Bind and Unbind run on
// the main thread while no transfer is under way; the I2C wrapper may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "ExternalDeviceLayer/AdlI2c.h"
#include "ExternalDeviceLayer/adl/AdlNames.h"
#include "abi/AdlAbi.h"
#include "platform/Environment.h"
#include "platform/Libraries.h"

constexpr int kAdlModeContext = 2; // the entry points that take a context ("ADL2_")
constexpr int kAdlModeUnbound = -1;

class CAdlBinder : public CAdlI2cCall {
public:
    CAdlBinder(plat::Libraries& libraries, plat::Environment& env);
    ~CAdlBinder() override;
    CAdlBinder(const CAdlBinder&) = delete;
    CAdlBinder& operator=(const CAdlBinder&) = delete;

    // True when a library is loaded, every required entry point resolved and the context created. Refused
    // (false, nothing changed) without a callback, with a connected-adapters flag other than 0 or 1, or a
    // mode other than 1 or 2 (mode 1 is accepted but has no entry points here, so it never binds).
    bool Bind(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly, int mode, int threadingModel);
    void Unbind();
    bool Bound() const { return initialised_; }

    int32_t Main_ControlX2_Create(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly, int threadingModel);
    int32_t Main_Control_Create(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly);
    int32_t Main_Control_Destroy();
    int32_t Adapter_NumberOfAdapters_Get(int* count);
    int32_t Adapter_AdapterInfo_Get(AdapterInfo* records, int bytes);
    int32_t Display_WriteAndReadI2CLargePayload(int32_t adapterIndex, ADLI2CLargePayload* record) override;

    // The path the binder loads a library name from.
    std::wstring SystemPath(const wchar_t* baseName) const;

private:
    // The entry point's address as its function type (exports are held as data pointers).
    template <class Fn> Fn Entry(AdlEntry entry) const {
        static_assert(sizeof(Fn) == sizeof(void*), "function and data pointers have one size here");
        Fn function = nullptr;
        std::memcpy(&function, &entries_[static_cast<size_t>(entry)], sizeof function);
        return function;
    }
    // The wrapper rule before a call: 0 when the call may go ahead, else the code to return.
    int32_t Refusal(AdlEntry entry) const;

    plat::Libraries& libraries_;
    plat::Environment& env_;
    plat::Library module_;
    ADL_CONTEXT_HANDLE context_ = nullptr;
    int mode_ = kAdlModeUnbound;
    bool initialised_ = false;
    std::array<void*, kAdlEntryCount> entries_{};
};

// The allocation callback the program hands to the library: a block of the program's heap for a size of
// at least 1, none otherwise. The library keeps the blocks; the program never frees them.
void* VSK_ADL_STDCALL AdlAllocate(int size);

// For each card (bus, device, function), the position of the first adapter record with that location, or
// -1 when there is none.
struct tagPciLocation {
    uint32_t bus, device, function;
};
void MatchAdapters(const AdapterInfo* records, int32_t recordCount, const tagPciLocation* cards,
                   int32_t cardCount, int32_t* adapterIndex);
