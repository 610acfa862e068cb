#include "app/stages/UpdateFinish.h"

tagUpdateFinishOutcome FinishUpdate(CPrinter& printer, tagSystemParts& parts,
                                    const tagCmdLineOptions& options, const tagUpdateFinishInput& input) {
    tagUpdateFinishOutcome outcome;
    bool restartNeeded = false;
    if (parts.driver.DriverDisabled()) {
        parts.driver.EnableDisplayDriver();
        restartNeeded = true;
    }
    if (input.aborted)
        return outcome;
    if (options.testCount > 0) {
        parts.power.RestartSystem(parts.onRestart);
        outcome.restarted = true;
        return outcome;
    }
    if (parts.driver.DriverPresent() && !restartNeeded) {
        parts.lumo.TerminateLumoProcesses();
        parts.lumo.StartLumoCore(CDesktopManager::kStartBeforeImportMs);
        parts.lumo.ClearClosed();
        if (parts.lumo.ImportLumoSettings() != 0)
            restartNeeded = true;
    }
    if (input.adlFlashImage)
        restartNeeded = true;
    if (!restartNeeded)
        return outcome;
    if (options.noReboot) {
        printer.Print(L"\n\n   Enabling the graphics driver requires a reboot.\n"
                      L"   You must reboot the computer to complete the update process.\n");
        outcome.enableNeedsReboot = true;
        return outcome;
    }
    parts.lumo.TerminateLumoProcesses();
    parts.resume.WriteFinalPass(printer.Transcript(), parts.lumo.ImportCommand(),
                                parts.registeredCommandLine(-1));
    parts.power.RestartSystem(parts.onRestart);
    outcome.restarted = true;
    return outcome;
}
