// The platform object of the Windows build: owns one Win32 implementation of each interface.
#include <memory>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat {
namespace {

class WinPlatform final : public Platform {
public:
    WinPlatform()
        : console_(win::CreateConsole()), files_(win::CreateFileSystem()), registry_(win::CreateRegistry()),
          env_(win::CreateEnvironment()), clock_(win::CreateClock()), processes_(win::CreateProcesses()),
          power_(win::CreatePower()), namedObjects_(win::CreateNamedObjects()),
          libraries_(win::CreateLibraries()), resources_(win::CreateResources()) {
        console = console_.get();
        files = files_.get();
        registry = registry_.get();
        env = env_.get();
        clock = clock_.get();
        processes = processes_.get();
        power = power_.get();
        namedObjects = namedObjects_.get();
        libraries = libraries_.get();
        resources = resources_.get();
    }

private:
    std::unique_ptr<Console> console_;
    std::unique_ptr<FileSystem> files_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<Environment> env_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<Processes> processes_;
    std::unique_ptr<Power> power_;
    std::unique_ptr<NamedObjects> namedObjects_;
    std::unique_ptr<Libraries> libraries_;
    std::unique_ptr<Resources> resources_;
};

} // namespace

std::unique_ptr<Platform> CreatePlatform() {
    return std::make_unique<WinPlatform>();
}

} // namespace plat
