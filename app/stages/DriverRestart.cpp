#include "app/stages/DriverRestart.h"

#include <string>

#include "app/stages/Prompt.h"

tagDriverRestartOutcome HandleDriverRestart(plat::Platform& platform, CPrinter& printer,
                                            tagSystemParts& parts, const tagCmdLineOptions& options,
                                            const std::function<void()>& releaseCards) {
    tagDriverRestartOutcome outcome;
    if (!parts.driver.DisableNeedsRestart())
        return outcome;
    outcome.next = tagDriverRestartOutcome::Next::EndEarly;
    outcome.result = -1;
    if (options.noReboot) {
        printer.Print(L"\n\n   For the display driver to be enabled, your system must be restarted.\n");
        // The disable waits for a restart that this run may not start: it is taken back, or the next
        // restart, whoever makes it, would leave the cards without their display driver and nothing to
        // bring it back.
        parts.driver.EnableDisplayDriver();
        outcome.result = 3;
        return outcome;
    }
    printer.Print(L"\n\n   For the display driver to be disabled, your system must be restarted.\n"
                  L"   Your system and VskQ740FwUpdater will be restarted now.\n");
    if (!options.quiet && !AskToContinue(printer, *platform.console)) {
        if (releaseCards)
            releaseCards();
        parts.driver.EnableDisplayDriver();
        printer.Print(L"   Update aborted.\n\n");
        return outcome;
    }
    std::string settings;
    const bool haveSettings = parts.lumo.ReadSettingsFile(settings);
    parts.resume.WriteDriverRestart(parts.registeredCommandLine(-1), haveSettings ? &settings : nullptr);
    parts.power.RestartSystem(parts.onRestart);
    outcome.next = tagDriverRestartOutcome::Next::Restarted;
    outcome.result = 0;
    return outcome;
}
