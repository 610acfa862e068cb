// The display library's entry points as a table: every name the binder resolves, in order, with the mark of
// the optional ones. The program calls six of them; their positions in the table are named here.
#pragma once

#include <cstddef>

struct tagAdlEntryName {
    const char* name;
    bool optional;
};

constexpr size_t kAdlEntryCount = 299;
extern const tagAdlEntryName kAdlEntryNames[kAdlEntryCount];

// Positions of the entry points the program calls.
enum class AdlEntry : size_t {
    Main_Control_Create = 0,
    Main_ControlX2_Create = 1,
    Main_Control_Destroy = 3,
    Adapter_NumberOfAdapters_Get = 5,
    Adapter_AdapterInfo_Get = 7,
    Display_WriteAndReadI2CLargePayload = 269,
};
