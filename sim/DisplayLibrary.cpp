#include "sim/DisplayLibrary.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "sim/HwService.h"
#include "sim/PciBus.h"
#include "sim/Text.h"
#include "sim/WindowsSide.h"

namespace sim {

namespace {

// The library's own result codes.
constexpr int kOk = 0;
constexpr int kError = -1;
constexpr int kInvalidParameter = -3;
constexpr int kInvalidAdapterIndex = -5;
constexpr int kNotSupported = -8;
constexpr int kNullPointer = -9;

// The line of the display connector the cards' FPGA slaves sit on.
constexpr int32_t kFpgaLine = 4;

struct Context {
    std::vector<AdapterInfo> records;
    std::vector<uint32_t> handles; // the PCI handle of each record's card
};

struct Library {
    std::mutex mutex; // the locked threading model: one call at a time
    std::string dir;
    MachineDescription machine;
    bool attached = false;
    uint32_t failuresLeft = 0;
    std::set<Context*> contexts;
    DisplayLibraryCounters counters;
};

Library& TheLibrary() {
    static Library* library = new Library; // never freed: exports may run until the process ends
    return *library;
}

// The Q740 cards whose display driver runs now: the vendor driver installed and the device node enabled
// (a disable that waits for a restart leaves the driver running).
std::vector<PciFunction> RunningCards(const Library& library) {
    std::vector<PciFunction> cards;
    if (!library.machine.displayDriverInstalled)
        return cards;
    std::vector<DisplayDevice> devices = DevicesOf(library.machine.pci);
    LoadDeviceStates(library.dir, devices);
    for (size_t i = 0; i < devices.size() && i < library.machine.pci.size(); ++i) {
        const DeviceState state = devices[i].state;
        if (library.machine.pci[i].kind == FunctionKind::Q740 &&
            (state == DeviceState::Enabled || state == DeviceState::DisablePending))
            cards.push_back(library.machine.pci[i]);
    }
    return cards;
}

void CopyText(char (&to)[kAdlMaxPath], const std::string& text) {
    std::memset(to, 0, sizeof to);
    std::memcpy(to, text.data(), std::min(text.size(), sizeof to - 1));
}

Context* NewContext(Library& library) {
    auto* context = new Context;
    for (const PciFunction& card : RunningCards(library)) {
        for (uint32_t output = 0; output < library.machine.adlRecords; ++output) {
            AdapterInfo info{};
            info.iSize = static_cast<int32_t>(sizeof(AdapterInfo));
            info.iAdapterIndex = static_cast<int32_t>(context->records.size());
            info.iBusNumber = static_cast<int32_t>(card.bus);
            info.iDeviceNumber = static_cast<int32_t>(card.device);
            info.iFunctionNumber = static_cast<int32_t>(card.function);
            info.iVendorID = static_cast<int32_t>(card.vendorId);
            CopyText(info.strAdapterName, "Veskora Q740");
            CopyText(info.strDisplayName, "\\\\.\\DISPLAY" + std::to_string(context->records.size() + 1));
            CopyText(info.strUDID, "PCI_VEN_1002&DEV_6828&SUBSYS_4D17E6A2&REV_00_" + card.Location() + "_" +
                                       std::to_string(output));
            info.iPresent = 1;
            info.iExist = 1;
            info.iOSDisplayIndex = static_cast<int32_t>(output);
            context->records.push_back(info);
            context->handles.push_back(card.Handle());
        }
    }
    library.contexts.insert(context);
    ++library.counters.contexts;
    return context;
}

Context* Find(Library& library, ADL_CONTEXT_HANDLE handle) {
    auto* context = static_cast<Context*>(handle);
    return library.contexts.count(context) != 0 ? context : nullptr;
}

// Both creation calls; `call` is 1 for the first choice, 2 for the older one. The context-creation fault
// fails the first call alone (1) or both (2).
int Create(int call, ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly, ADL_CONTEXT_HANDLE* handle) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    if (!library.attached)
        return kError;
    if (!callback || !handle || (connectedOnly != 0 && connectedOnly != 1))
        return kInvalidParameter;
    if (static_cast<uint32_t>(call) <= library.machine.adlCreateFails)
        return kError;
    // Without the vendor display driver there is nothing to talk to.
    if (!library.machine.displayDriverInstalled)
        return kError;
    *handle = NewContext(library);
    return kOk;
}

// The bus transfer one record asks for, at the record's speed; the bus's own speed is put back after it,
// as the display driver reprograms the engine for each transfer and the engine's owner sets it again.
bool Transfer(I2cBus& bus, const ADLI2CLargePayload& record) {
    const uint32_t before = bus.SpeedHz();
    bus.SetSpeedHz(static_cast<uint32_t>(record.iSpeed) * 1000u);
    const auto address = static_cast<uint8_t>(record.iAddress);
    auto* data = reinterpret_cast<uint8_t*>(record.pBuffer);
    const auto size = static_cast<size_t>(record.iDataSize);
    const bool ok = record.iAction == kAdlI2cActionWrite ? bus.WriteTransfer(address, data, size)
                                                         : bus.ReadTransfer(address, data, size);
    bus.SetSpeedHz(before);
    return ok;
}

int Unsupported() {
    return kNotSupported;
}

template <class F> void* Address(F function) {
    void* p = nullptr;
    static_assert(sizeof function == sizeof p, "exports are data-pointer sized");
    std::memcpy(&p, &function, sizeof p);
    return p;
}

} // namespace

std::vector<std::string> DisplayLibraryPaths(const MachineDescription& machine) {
    if (!machine.displayLibrary)
        return {};
    if (machine.os64)
        return {"C:\\Windows\\System32\\atiadlxx.dll", "C:\\Windows\\SysWOW64\\atiadlxy.dll"};
    return {"C:\\Windows\\System32\\atiadlxx.dll"};
}

void AttachDisplayLibrary(const std::string& machineDir) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    if (library.attached && library.dir == machineDir)
        return;
    MachineDescription machine;
    std::string error;
    if (!LoadMachine(machineDir, machine, error))
        return;
    AttachService(machineDir);
    library.dir = machineDir;
    library.machine = machine;
    library.failuresLeft = machine.adlFailures;
    library.attached = true;
}

void* DisplayLibraryExport(const char* symbol) {
    if (!symbol)
        return nullptr;
    Library& library = TheLibrary();
    std::string missing;
    {
        std::lock_guard<std::mutex> lock(library.mutex);
        if (!library.attached)
            return nullptr;
        missing = library.machine.adlMissing;
    }
    // Export names match exactly; the fault list is compared the same way.
    std::string list = ";";
    for (char c : missing)
        if (c != ' ' && c != '\t')
            list += c == ',' ? ';' : c;
    list += ";";
    if (list.find(";" + std::string(symbol) + ";") != std::string::npos)
        return nullptr;
    struct Export {
        const char* name;
        void* address;
    };
    const Export exports[] = {
        {"ADL2_Main_ControlX2_Create", Address(&SimAdl2MainControlX2Create)},
        {"ADL2_Main_Control_Create", Address(&SimAdl2MainControlCreate)},
        {"ADL2_Main_Control_Destroy", Address(&SimAdl2MainControlDestroy)},
        {"ADL2_Adapter_NumberOfAdapters_Get", Address(&SimAdl2AdapterNumberOfAdaptersGet)},
        {"ADL2_Adapter_AdapterInfo_Get", Address(&SimAdl2AdapterAdapterInfoGet)},
        {"ADL2_Display_WriteAndReadI2CLargePayload", Address(&SimAdl2DisplayWriteAndReadI2CLargePayload)},
    };
    for (const Export& e : exports)
        if (std::strcmp(e.name, symbol) == 0)
            return e.address;
    // Every other entry point of the library is there and supports nothing the machine has.
    if (std::strncmp(symbol, "ADL2_", 5) == 0 || std::strncmp(symbol, "ADL_", 4) == 0)
        return Address(&Unsupported);
    return nullptr;
}

DisplayLibraryCounters DisplayLibraryCountersNow() {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    DisplayLibraryCounters counters = library.counters;
    counters.contexts = library.contexts.size();
    return counters;
}

} // namespace sim

extern "C" {

int SimAdl2MainControlX2Create(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly,
                               ADL_CONTEXT_HANDLE* context, int threadingModel) {
    if (threadingModel != 0 && threadingModel != 1)
        return sim::kInvalidParameter;
    return sim::Create(1, callback, connectedOnly, context);
}

int SimAdl2MainControlCreate(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly,
                             ADL_CONTEXT_HANDLE* context) {
    return sim::Create(2, callback, connectedOnly, context);
}

int SimAdl2MainControlDestroy(ADL_CONTEXT_HANDLE handle) {
    sim::Library& library = sim::TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    sim::Context* context = sim::Find(library, handle);
    if (!context)
        return sim::kError;
    library.contexts.erase(context);
    delete context;
    return sim::kOk;
}

int SimAdl2AdapterNumberOfAdaptersGet(ADL_CONTEXT_HANDLE handle, int* count) {
    sim::Library& library = sim::TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    sim::Context* context = sim::Find(library, handle);
    if (!context)
        return sim::kError;
    if (!count)
        return sim::kNullPointer;
    *count = static_cast<int>(context->records.size());
    return sim::kOk;
}

int SimAdl2AdapterAdapterInfoGet(ADL_CONTEXT_HANDLE handle, AdapterInfo* records, int bytes) {
    sim::Library& library = sim::TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    sim::Context* context = sim::Find(library, handle);
    if (!context)
        return sim::kError;
    if (!records)
        return sim::kNullPointer;
    const size_t needed = context->records.size() * sizeof(AdapterInfo);
    if (bytes < 0 || static_cast<size_t>(bytes) < needed)
        return sim::kInvalidParameter;
    std::memcpy(records, context->records.data(), needed);
    return sim::kOk;
}

int SimAdl2DisplayWriteAndReadI2CLargePayload(ADL_CONTEXT_HANDLE handle, int adapterIndex,
                                              ADLI2CLargePayload* record) {
    sim::Library& library = sim::TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    sim::Context* context = sim::Find(library, handle);
    if (!context)
        return sim::kError;
    if (!record)
        return sim::kNullPointer;
    if (adapterIndex < 0 || static_cast<size_t>(adapterIndex) >= context->records.size())
        return sim::kInvalidAdapterIndex;
    // The record of this build's layout only; a record that names no bytes carries nothing.
    if (record->iSize != static_cast<int32_t>(sizeof(ADLI2CLargePayload)) || record->iDataSize <= 0 ||
        !record->pBuffer || record->iSpeed <= 0 ||
        (record->iAction != kAdlI2cActionRead && record->iAction != kAdlI2cActionWrite))
        return sim::kInvalidParameter;
    ++library.counters.i2cCalls;
    if (library.failuresLeft > 0) {
        --library.failuresLeft;
        ++library.counters.i2cFailures;
        return sim::kError;
    }
    bool ok = false;
    sim::PciBus* bus = sim::AttachedBus();
    if (record->iLine == sim::kFpgaLine && bus)
        bus->WithCardI2c(context->handles[static_cast<size_t>(adapterIndex)],
                         [&](sim::CardI2c& i2c) { ok = sim::Transfer(i2c.Bus(), *record); });
    if (!ok)
        ++library.counters.i2cFailures;
    return ok ? sim::kOk : sim::kError;
}
}
