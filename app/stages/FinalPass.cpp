#include "app/stages/FinalPass.h"

int RunFinalPass(plat::Platform& platform, CPrinter& printer, tagSystemParts& parts,
                 const tagCmdLineOptions& options, const std::wstring& transcript) {
    int result = 0;
    // The cards a display-library update left for this pass are counted in "Validate"; the value goes
    // whatever the check finds, so that it is made once.
    uint32_t cards = 0;
    if (parts.resume.ReadValidate(cards))
        parts.resume.DeleteValidate();
    // The transcript goes to the console only: the log holds it already.
    platform.console->Write(transcript);
    parts.resume.DeleteLog();
    if (result != 0) {
        printer.SetColour(CPrinter::kRed);
        printer.Print(L"\nTo avoid this error, run VskQ740FwUpdater with the -x command line parameter.");
        printer.SetColour(CPrinter::kNormal);
    } else {
        std::wstring restore;
        if (parts.resume.ReadRestore(restore)) {
            parts.resume.DeleteRestore();
            parts.children.RunChildProcess(restore, plat::kWaitForever);
        }
    }
    if (!options.quiet && !parts.power.RestartInitiated()) {
        printer.Print(L"\n\n");
        printer.Print(L"\n\nPress any key to exit...\n");
        printer.Print(L"\n");
        platform.console->ReadKey();
    }
    return result;
}
