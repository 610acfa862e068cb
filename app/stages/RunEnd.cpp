#include "app/stages/RunEnd.h"

#include "app/ResumeState.h"

int EndRun(const tagRunEnd& end, plat::Platform& platform, CPrinter& printer, CPowerSettings& power,
           const std::function<void()>& cleanUp) {
    if (end.afterUpdate && !end.restartInitiated)
        ForgetResumeState(*platform.registry);
    if (!end.restartInitiated)
        power.RestorePowerSettings();
    cleanUp();
    if (!end.quiet && !end.restartInitiated) {
        printer.Print(L"\n\nPress any key to exit...\n");
        platform.console->ReadKey();
    }
    return end.result;
}
