// The six exports of the hardware-access library "VskVxdSC.dll", as the program calls them: plain C
// functions, caller removes the arguments, every value 32-bit except the pointer-sized window bases
// (uintptr_t, so the x86_64 test build works too). Shared by the client and by the stand-in service.
#pragma once

#include <cstdint>

extern "C" {

// Called by pciScanBus once per PCI function; the program's callback always returns 0.
typedef uint32_t (*VskPciScanCallback)(uint32_t hPci, void* context);

// Configuration space: direction 0 reads into the buffer, 1 writes from it; count is always 4.
typedef uint32_t (*VskCsReadWriteFn)(uint32_t hPci, uint32_t offset, void* buffer, uint32_t count,
                                     uint32_t direction);
typedef uint32_t (*VskMemReadFn)(uintptr_t base, uint32_t offset, void* buffer, uint32_t count);
typedef uint32_t (*VskMemWriteFn)(uintptr_t base, uint32_t offset, const void* value, uint32_t count);
// Maps a physical range; returns the base that memRead/memWrite take, 0 on failure.
typedef uintptr_t (*VskMemMap64Fn)(uint32_t physicalLow, uint32_t physicalHigh, uint32_t length,
                                   uint32_t flags);
typedef uint32_t (*VskMemUnmapFn)(uintptr_t base);
typedef uint32_t (*VskPciScanBusFn)(VskPciScanCallback callback, void* context);
}

// Export names.
constexpr const char* kVskExportCsReadWrite = "csReadWrite";
constexpr const char* kVskExportMemRead = "memRead";
constexpr const char* kVskExportMemWrite = "memWrite";
constexpr const char* kVskExportMemMap64 = "memMap64";
constexpr const char* kVskExportMemUnmap = "memUnmap";
constexpr const char* kVskExportPciScanBus = "pciScanBus";
