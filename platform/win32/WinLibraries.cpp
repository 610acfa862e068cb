// Libraries loaded at run time on Win32, by name with the normal search order.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

class WinLibraries final : public Libraries {
protected:
    uintptr_t LoadHandle(const std::wstring& name) override {
        return reinterpret_cast<uintptr_t>(::LoadLibraryW(name.c_str()));
    }

    void* ResolveExport(uintptr_t library, const char* symbol) override {
        // The logic holds exports as data pointers and converts them back to its function types.
        const FARPROC proc = ::GetProcAddress(reinterpret_cast<HMODULE>(library), symbol);
        void* address = nullptr;
        static_assert(sizeof address == sizeof proc, "function and data pointers have one size here");
        std::memcpy(&address, &proc, sizeof address);
        return address;
    }

    void FreeHandle(uintptr_t library) override { ::FreeLibrary(reinterpret_cast<HMODULE>(library)); }
};

} // namespace

std::unique_ptr<Libraries> CreateLibraries() {
    return std::make_unique<WinLibraries>();
}

} // namespace plat::win
