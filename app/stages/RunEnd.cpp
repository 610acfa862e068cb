#include "app/stages/RunEnd.h"

int EndRun(const tagRunEnd& end, plat::Platform& platform, CPrinter& printer, tagSystemParts& parts,
           const std::function<void()>& cleanUp) {
    if (!end.restartInitiated) {
        // Every run that closed the desktop manager brings it back, also one that ends before the update
        // (no to a restart, -n): it is the user's, and nothing else starts it again before the next logon.
        if (parts.lumo.Closed())
            parts.lumo.StartLumoCore(CDesktopManager::kStartAtEndMs);
        // Only a run that reached the update prompt ends a pending resume: a run that only lists the cards,
        // finds a corrupt file or stops early leaves it for the run it was meant for.
        if (end.afterUpdate)
            parts.resume.ForgetResumeState();
        parts.power.RestorePowerSettings();
    }
    parts.driver.ReleaseTool();
    cleanUp();
    if (!end.quiet && !end.restartInitiated) {
        printer.Print(L"\n\nPress any key to exit...\n");
        platform.console->ReadKey();
    }
    return end.result;
}
