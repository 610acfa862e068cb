#include "ExternalDeviceLayer/adl/AdlBinder.h"

#include <cstdlib>

namespace {

const wchar_t kWorkaroundVariable[] = L"ADL_4KWORKAROUND_CANCEL";

} // namespace

CAdlBinder::CAdlBinder(plat::Libraries& libraries, plat::Environment& env)
    : libraries_(libraries), env_(env) {
    env_.SetVariable(kWorkaroundVariable, L"true");
}

CAdlBinder::~CAdlBinder() {
    Unbind();
    env_.RemoveVariable(kWorkaroundVariable);
}

std::wstring CAdlBinder::SystemPath(const wchar_t* baseName) const {
    // The system folder as this process sees it: a 32-bit process on 64-bit Windows is sent to its own
    // architecture's folder by the system.
    std::wstring folder = env_.WindowsFolder();
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder + L"System32\\" + baseName + L".dll";
}

bool CAdlBinder::Bind(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly, int mode, int threadingModel) {
    if (!callback || (connectedOnly != 0 && connectedOnly != 1) || (mode != 1 && mode != kAdlModeContext))
        return false;
    if (module_ || initialised_)
        Unbind();
    for (const wchar_t* name : kAdlLibraryNames) {
        module_ = libraries_.Load(SystemPath(name));
        if (module_)
            break;
    }
    if (!module_)
        return false;
    for (size_t i = 0; i < kAdlEntryCount; ++i) {
        entries_[i] = module_.Resolve(kAdlEntryNames[i].name);
        if (!entries_[i] && !kAdlEntryNames[i].optional) {
            Unbind();
            return false;
        }
    }
    mode_ = mode;
    if (Main_ControlX2_Create(callback, connectedOnly, threadingModel) == kAdlOk ||
        Main_Control_Create(callback, connectedOnly) == kAdlOk)
        initialised_ = true;
    if (!initialised_) {
        Unbind();
        return false;
    }
    return true;
}

void CAdlBinder::Unbind() {
    if (initialised_) {
        const ADL_CONTEXT_HANDLE context = context_;
        context_ = nullptr;
        if (auto destroy = Entry<ADL2_MAIN_CONTROL_DESTROY>(AdlEntry::Main_Control_Destroy))
            destroy(context);
        initialised_ = false;
    }
    module_.Reset();
    entries_.fill(nullptr);
    context_ = nullptr;
    mode_ = kAdlModeUnbound;
}

int32_t CAdlBinder::Refusal(AdlEntry entry) const {
    if (!initialised_ || mode_ != kAdlModeContext)
        return kAdlErrNotInit;
    if (!entries_[static_cast<size_t>(entry)])
        return kAdlErrNotSupported;
    return kAdlOk;
}

int32_t CAdlBinder::Main_ControlX2_Create(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly,
                                          int threadingModel) {
    if (mode_ != kAdlModeContext)
        return kAdlErrNotInit;
    auto create = Entry<ADL2_MAIN_CONTROLX2_CREATE>(AdlEntry::Main_ControlX2_Create);
    return create ? create(callback, connectedOnly, &context_, threadingModel) : kAdlErrNotSupported;
}

int32_t CAdlBinder::Main_Control_Create(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly) {
    if (mode_ != kAdlModeContext)
        return kAdlErrNotInit;
    auto create = Entry<ADL2_MAIN_CONTROL_CREATE>(AdlEntry::Main_Control_Create);
    return create ? create(callback, connectedOnly, &context_) : kAdlErrNotSupported;
}

int32_t CAdlBinder::Main_Control_Destroy() {
    if (const int32_t refused = Refusal(AdlEntry::Main_Control_Destroy))
        return refused;
    return Entry<ADL2_MAIN_CONTROL_DESTROY>(AdlEntry::Main_Control_Destroy)(context_);
}

int32_t CAdlBinder::Adapter_NumberOfAdapters_Get(int* count) {
    if (const int32_t refused = Refusal(AdlEntry::Adapter_NumberOfAdapters_Get))
        return refused;
    return Entry<ADL2_ADAPTER_NUMBEROFADAPTERS_GET>(AdlEntry::Adapter_NumberOfAdapters_Get)(context_, count);
}

int32_t CAdlBinder::Adapter_AdapterInfo_Get(AdapterInfo* records, int bytes) {
    if (const int32_t refused = Refusal(AdlEntry::Adapter_AdapterInfo_Get))
        return refused;
    return Entry<ADL2_ADAPTER_ADAPTERINFO_GET>(AdlEntry::Adapter_AdapterInfo_Get)(context_, records, bytes);
}

int32_t CAdlBinder::Display_WriteAndReadI2CLargePayload(int32_t adapterIndex, ADLI2CLargePayload* record) {
    if (const int32_t refused = Refusal(AdlEntry::Display_WriteAndReadI2CLargePayload))
        return refused;
    return Entry<ADL2_DISPLAY_WRITEANDREADI2CLARGEPAYLOAD>(AdlEntry::Display_WriteAndReadI2CLargePayload)(
        context_, adapterIndex, record);
}

void* VSK_ADL_STDCALL AdlAllocate(int size) {
    return size < 1 ? nullptr : std::malloc(static_cast<size_t>(size));
}

void MatchAdapters(const AdapterInfo* records, int32_t recordCount, const tagPciLocation* cards,
                   int32_t cardCount, int32_t* adapterIndex) {
    for (int32_t card = 0; card < cardCount; ++card) {
        adapterIndex[card] = -1;
        for (int32_t r = 0; r < recordCount; ++r) {
            const AdapterInfo& info = records[r];
            if (static_cast<uint32_t>(info.iBusNumber) == cards[card].bus &&
                static_cast<uint32_t>(info.iDeviceNumber) == cards[card].device &&
                static_cast<uint32_t>(info.iFunctionNumber) == cards[card].function) {
                adapterIndex[card] = r;
                break;
            }
        }
    }
}
