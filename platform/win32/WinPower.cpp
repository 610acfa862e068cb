// Power and scheduling state on Win32.
#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

class WinPower final : public Power {
public:
    void SetHighPriority() override { ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS); }
};

} // namespace

std::unique_ptr<Power> CreatePower() {
    return std::make_unique<WinPower>();
}

} // namespace plat::win
