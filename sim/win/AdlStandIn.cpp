// The stand-in display library, built as "atiadlxx.dll" and "atiadlxy.dll": the simulated display library
// (sim/DisplayLibrary.*) over the machine named by VSK_SIM_MACHINE, as a real Windows DLL. Its export table
// lists every name of the binder's bind list (the build writes it from that table), each first pointing at
// a placeholder; when the DLL is loaded, each name is pointed at what the simulated library exports under
// it, or left without an address when the machine leaves it out, so that GetProcAddress finds exactly the
// entry points the native simulated loader would hand out.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "abi/AdlAbi.h"
#include "sim/DisplayLibrary.h"
#include "sim/win/StandIn.h"

extern "C" {

// What every export names in the file; never reached once the DLL has resolved its exports.
int AdlStandInPlaceholder() {
    return kAdlErrNotInit;
}
}

namespace {

// Points every named export of `module` at the simulated library's entry point of that name; a name it
// does not have gets address 0, which the loader treats as not exported.
bool ResolveExports(HMODULE module) {
    auto* const base = reinterpret_cast<uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<size_t>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.Size == 0)
        return false;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const SIZE_T tableBytes = exports->NumberOfFunctions * sizeof(DWORD);
    DWORD protection = 0;
    if (!::VirtualProtect(functions, tableBytes, PAGE_READWRITE, &protection))
        return false;
    const uintptr_t end = reinterpret_cast<uintptr_t>(base) + nt->OptionalHeader.SizeOfImage;
    bool ok = true;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const char* name = reinterpret_cast<const char*>(base + names[i]);
        const auto address = reinterpret_cast<uintptr_t>(sim::DisplayLibraryExport(name));
        // Every entry point lives in this image, so its address is an offset into it.
        if (address != 0 && (address < reinterpret_cast<uintptr_t>(base) || address >= end))
            ok = false;
        functions[ordinals[i]] =
            address != 0 && ok ? static_cast<DWORD>(address - reinterpret_cast<uintptr_t>(base)) : 0;
    }
    ::VirtualProtect(functions, tableBytes, protection, &protection);
    return ok;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    // Without a machine nothing resolves, and the binder gives up at the first name.
    const std::string folder = simwin::MachineFolderFromEnvironment();
    if (!folder.empty())
        sim::AttachDisplayLibrary(folder);
    return ResolveExports(module) ? TRUE : FALSE;
}

// The entry points keep the types the program calls them through, so the allocation callback's calling
// convention and the records are those of the program's build.
static_assert(std::is_same_v<decltype(&SimAdl2MainControlX2Create), ADL2_MAIN_CONTROLX2_CREATE>);
static_assert(std::is_same_v<decltype(&SimAdl2MainControlCreate), ADL2_MAIN_CONTROL_CREATE>);
static_assert(std::is_same_v<decltype(&SimAdl2MainControlDestroy), ADL2_MAIN_CONTROL_DESTROY>);
static_assert(
    std::is_same_v<decltype(&SimAdl2AdapterNumberOfAdaptersGet), ADL2_ADAPTER_NUMBEROFADAPTERS_GET>);
static_assert(std::is_same_v<decltype(&SimAdl2AdapterAdapterInfoGet), ADL2_ADAPTER_ADAPTERINFO_GET>);
static_assert(std::is_same_v<decltype(&SimAdl2DisplayWriteAndReadI2CLargePayload),
                             ADL2_DISPLAY_WRITEANDREADI2CLARGEPAYLOAD>);
