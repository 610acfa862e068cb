// The display library of the simulated machine, as the vendor display driver installs it: "atiadlxx.dll"
// in the system folder of 32-bit Windows; on 64-bit Windows the 64-bit "atiadlxx.dll" in System32 and the
// 32-bit "atiadlxy.dll" in SysWOW64, so that a 32-bit process finds only "atiadlxy". Behind it: a context,
// the adapter records of the Q740 cards whose display driver runs (several records per card, in bus
// order), and the large-payload I2C call carried to the card's I2C bus as the display driver drives it
// (start, address, bytes, stop, at the speed the record asks for). One call at a time, as the locked
// threading model promises. The fault switches are keys of [machine] (sim/Machine.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/AdlAbi.h"
#include "sim/Machine.h"

namespace sim {

// The Windows paths where the machine has a display library (empty when it has none), as the system
// folders hold them.
std::vector<std::string> DisplayLibraryPaths(const MachineDescription& machine);

// Opens the machine in `machineDir` for the library (once per process; a later call with the same folder
// does nothing). Its cards are those of the hardware-access service's bus (sim::AttachService), so both
// ways to a card share one card state. Without it every export fails.
void AttachDisplayLibrary(const std::string& machineDir);

// The library's export of that exact name: the entry points the program calls, a stand-in that answers
// -8 for every other name of the library, null for a name it does not have or one listed in
// `adl-missing`.
void* DisplayLibraryExport(const char* symbol);

// What the library saw in this process, for tests: I2C calls made and failed.
struct DisplayLibraryCounters {
    uint64_t i2cCalls = 0;
    uint64_t i2cFailures = 0;
    uint64_t contexts = 0; // created and not destroyed
};
DisplayLibraryCounters DisplayLibraryCountersNow();

} // namespace sim

extern "C" {
int SimAdl2MainControlX2Create(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly,
                               ADL_CONTEXT_HANDLE* context, int threadingModel);
int SimAdl2MainControlCreate(ADL_MAIN_MALLOC_CALLBACK callback, int connectedOnly,
                             ADL_CONTEXT_HANDLE* context);
int SimAdl2MainControlDestroy(ADL_CONTEXT_HANDLE context);
int SimAdl2AdapterNumberOfAdaptersGet(ADL_CONTEXT_HANDLE context, int* count);
int SimAdl2AdapterAdapterInfoGet(ADL_CONTEXT_HANDLE context, AdapterInfo* records, int bytes);
int SimAdl2DisplayWriteAndReadI2CLargePayload(ADL_CONTEXT_HANDLE context, int adapterIndex,
                                              ADLI2CLargePayload* record);
}
