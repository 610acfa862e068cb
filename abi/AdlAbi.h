// The display library's records and constants that the program uses, after the library's public
// documentation: the large-payload I2C record, the result codes of the wrappers, and the adapter record's
// size on the 32-bit platform. Shared by the binder and by the simulator's stand-in libraries.
#pragma once

#include <cstddef>
#include <cstdint>

// The library's memory callback uses the standard calling convention; its entry points use the C one.
#if defined(_WIN32) && !defined(_WIN64)
#define VSK_ADL_STDCALL __stdcall
#else
#define VSK_ADL_STDCALL
#endif

extern "C" {

typedef void*(VSK_ADL_STDCALL* ADL_MAIN_MALLOC_CALLBACK)(int size);
typedef void* ADL_CONTEXT_HANDLE;

// One I2C transfer through the display driver. On the 32-bit program the record is 36 bytes; the x86_64
// test build has its own layout (a 64-bit pointer, 40 bytes), and iSize says which one was sent.
struct ADLI2CLargePayload {
    int32_t iSize;
    int32_t iLine;
    int32_t iAddress;
    int32_t iOffset;
    int32_t iAction;
    int32_t iSpeed;
    int32_t iFlags;
    int32_t iDataSize;
    char* pBuffer;
};
}
static_assert(offsetof(ADLI2CLargePayload, pBuffer) == 32 && sizeof(ADLI2CLargePayload) == 32 + sizeof(char*),
              "the record is 36 bytes on the 32-bit program and 40 on the x86_64 build");

constexpr int32_t kAdlOk = 0;
constexpr int32_t kAdlErrNotInit = -2;
constexpr int32_t kAdlErrNotSupported = -8;

constexpr int32_t kAdlI2cLine = 4;
constexpr int32_t kAdlI2cActionRead = 1;
constexpr int32_t kAdlI2cActionWrite = 2;

// One adapter record: 1572 bytes on this platform. The fields the program uses are the PCI location.
constexpr uint32_t kAdlAdapterInfoSize = 1572;
constexpr uint32_t kAdlMaxPath = 256;
extern "C" {
struct AdapterInfo {
    int32_t iSize;
    int32_t iAdapterIndex;
    char strUDID[kAdlMaxPath];
    int32_t iBusNumber;
    int32_t iDeviceNumber;
    int32_t iFunctionNumber;
    int32_t iVendorID;
    char strAdapterName[kAdlMaxPath];
    char strDisplayName[kAdlMaxPath];
    int32_t iPresent;
    int32_t iExist;
    char strDriverPath[kAdlMaxPath];
    char strDriverPathExt[kAdlMaxPath];
    char strPNPString[kAdlMaxPath];
    int32_t iOSDisplayIndex;
};
}
static_assert(sizeof(AdapterInfo) == kAdlAdapterInfoSize, "an adapter record is 1572 bytes");

// The entry points the program calls.
extern "C" {
typedef int (*ADL2_MAIN_CONTROLX2_CREATE)(ADL_MAIN_MALLOC_CALLBACK, int, ADL_CONTEXT_HANDLE*, int);
typedef int (*ADL2_MAIN_CONTROL_CREATE)(ADL_MAIN_MALLOC_CALLBACK, int, ADL_CONTEXT_HANDLE*);
typedef int (*ADL2_MAIN_CONTROL_DESTROY)(ADL_CONTEXT_HANDLE);
typedef int (*ADL2_ADAPTER_NUMBEROFADAPTERS_GET)(ADL_CONTEXT_HANDLE, int*);
typedef int (*ADL2_ADAPTER_ADAPTERINFO_GET)(ADL_CONTEXT_HANDLE, AdapterInfo*, int);
typedef int (*ADL2_DISPLAY_WRITEANDREADI2CLARGEPAYLOAD)(ADL_CONTEXT_HANDLE, int, ADLI2CLargePayload*);
}

// The library's names, tried in this order, and its threading model that serialises calls.
constexpr const wchar_t* kAdlLibraryNames[] = {L"atiadlxx", L"atiadlxy"};
constexpr int kAdlThreadingLocked = 1;
