// The operations the program logic runs against, one interface per kind of service, each in its own header.
// Each interface has a Win32 backend (platform/win32) and a simulated backend (platform/sim); the logic sees
// only these headers. What a call opens comes back as a move-only owner that closes it (Libraries.h,
// NamedObjects.h); no handle of the system reaches the logic.
#pragma once

#include <memory>

#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/Libraries.h"
#include "platform/NamedObjects.h"
#include "platform/Power.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Resources.h"

namespace plat {

// One object owning one instance of each interface, handed to the run at start-up.
struct Platform {
    virtual ~Platform() = default;
    Console* console = nullptr;
    FileSystem* files = nullptr;
    Registry* registry = nullptr;
    Environment* env = nullptr;
    Clock* clock = nullptr;
    Processes* processes = nullptr;
    Power* power = nullptr;
    NamedObjects* namedObjects = nullptr;
    Libraries* libraries = nullptr;
    Resources* resources = nullptr;
};

// Made by the backend that is linked in.
std::unique_ptr<Platform> CreatePlatform();

} // namespace plat
