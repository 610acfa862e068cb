#include "app/stages/FinalPass.h"

#include <algorithm>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "update/DeviceUpdate.h"

namespace {

// The check of the cards a display-library update left; the run result it gives (0 or 45067).
int CheckAdlCards(CPrinter& printer, tagSystemParts& parts, tagAdlAccess& adl, uint32_t cards) {
    // The adapter table has one entry per card the run can serve.
    const auto count = static_cast<int32_t>(std::min<uint32_t>(cards, static_cast<uint32_t>(kMaxCards)));
    std::array<int32_t, kMaxCards> adapterIndex{};
    adapterIndex.fill(-1);
    for (int32_t i = 0; i < count; ++i)
        if (!parts.resume.ReadAdapterIndex(static_cast<uint32_t>(i), adapterIndex[static_cast<size_t>(i)]))
            adapterIndex[static_cast<size_t>(i)] = -1; // no adapter: that card cannot answer
    I2cSettings().speedKhz.store(kValidationSpeedKhz);
    // A library that does not bind answers no read, so the first card fails the check.
    adl.binder.Bind(AdlAllocate, 1, kAdlModeContext, kAdlThreadingLocked);
    const int32_t failing = FirstFailingAdlCard(adl, adapterIndex.data(), count);
    int result = 0;
    if (failing >= 0) {
        // No job records exist in this pass: the code shown is the run's own, the failed check's.
        result = kUpdateCheckFailed;
        printer.SetColour(CPrinter::kRed);
        printer.Print(L"Update failed on device at index %d with error code %d", failing, result);
        printer.SetColour(CPrinter::kNormal);
    }
    adl.binder.Unbind();
    return result;
}

} // namespace

int RunFinalPass(plat::Platform& platform, CPrinter& printer, tagSystemParts& parts, tagAdlAccess& adl,
                 const tagCmdLineOptions& options, const std::wstring& transcript) {
    int result = 0;
    // The cards a display-library update left for this pass are counted in "Validate"; the value goes
    // whatever the check finds, so that it is made once.
    uint32_t cards = 0;
    if (parts.resume.ReadValidate(cards)) {
        parts.resume.DeleteValidate();
        result = CheckAdlCards(printer, parts, adl, cards);
    }
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
