// The program's own process on Win32.
#include <windows.h>

#include <cstdio>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

class WinProcesses final : public Processes {
public:
    // The exit code is passed on whole: codes above 255 (45067) reach the caller of the process.
    [[noreturn]] void Exit(int code) override {
        std::fflush(nullptr);
        ::ExitProcess(static_cast<UINT>(code));
    }
};

} // namespace

std::unique_ptr<Processes> CreateProcesses() {
    return std::make_unique<WinProcesses>();
}

} // namespace plat::win
