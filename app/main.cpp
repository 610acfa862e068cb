// Entry point: builds the platform backend that is linked in and hands it to the update run.
#include "app/UpdateRun.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    std::unique_ptr<plat::Platform> platform = plat::CreatePlatform();
    const int code = RunUpdater(*platform, argc, argv);
    platform->processes->Exit(code);
}
