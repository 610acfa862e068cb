// Resources carried inside the program: RCDATA entries named by strings, in US English or language-neutral.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

// RT_RCDATA in its narrow form (the UNICODE build defines RT_RCDATA as a wide one).
const LPCSTR kRcData = MAKEINTRESOURCEA(10);

class WinResources final : public Resources {
public:
    bool Find(const std::string& name, std::vector<uint8_t>& data) override {
        // Resources of the executable itself; the payloads are stored in language 1033.
        HRSRC found =
            ::FindResourceExA(nullptr, kRcData, name.c_str(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (found == nullptr) {
            found =
                ::FindResourceExA(nullptr, kRcData, name.c_str(), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
        }
        if (found == nullptr) {
            found = ::FindResourceA(nullptr, name.c_str(), kRcData);
        }
        if (found == nullptr) {
            return false;
        }
        const DWORD size = ::SizeofResource(nullptr, found);
        HGLOBAL loaded = ::LoadResource(nullptr, found);
        const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
        if (bytes == nullptr) {
            return false;
        }
        const auto* first = static_cast<const uint8_t*>(bytes);
        data.assign(first, first + size);
        return true;
    }
};

} // namespace

std::unique_ptr<Resources> CreateResources() {
    return std::make_unique<WinResources>();
}

} // namespace plat::win
