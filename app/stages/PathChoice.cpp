#include "app/stages/PathChoice.h"

#include "ExternalDeviceLayer/I2cSettings.h"

namespace {

// One card object and one job per card; the listing when asked. Each card's JTAG lines are claimed and
// calibrated (its spinner on the console) while the cards are listed, right before that card's line, and
// its version is read once, through its own engine, for that line. Versions that do not allow the flash
// image clear `imageVerified`.
void PrepareCards(plat::Platform& platform, CPrinter& printer, const tagPathChoiceInput& input, bool list,
                  const tagAdlAttempt& attempt, tagPathChoice& choice) {
    tagCardSet& set = choice.cards;
    set.cards.clear();
    set.jobs.reset(new tagDeviceUpdate[static_cast<size_t>(input.cardCount)]);
    set.count = input.cardCount;
    set.largestSettle = 0;
    // Every job of the pass gets the port mode the flags call for before the listing: a version read for
    // one card's line must not change the mode of the cards listed after it.
    const int32_t portMode = choice.xsvfPath && !choice.imageVerified ? kPortCalibrated : kPortFixedSettle;
    if (list)
        printer.Print(L"   Found %d Veskora Q740 graphics card%ls:\n", input.cardCount,
                      input.cardCount == 1 ? L"" : L"s");
    for (int32_t i = 0; i < input.cardCount; ++i) {
        const tagPciInfo& info = input.records[i];
        tagDeviceUpdate& job = set.jobs[static_cast<size_t>(i)];
        job.hPci = info.hPci;
        job.regBase = info.regBase;
        job.portMode.store(portMode);
        job.settleCount.store(kDefaultSettleCount);
        job.adlIndex =
            choice.adlMode && choice.imageVerified ? attempt.adapterIndex[static_cast<size_t>(i)] : -1;
        if (!input.stream.empty()) {
            job.stream = input.stream.data();
            job.streamSize = static_cast<uint32_t>(input.stream.size());
            // A card whose window could not be mapped is never driven; its update fails at once.
            if (job.regBase != 0)
                InitJtagPort(job, input.service, *platform.clock, ConsoleSpinner(*platform.console));
        }
        set.cards.emplace_back(CreateCard(&info, input.options, i, input.service));
        set.cards.back()->job = &job;
        if (input.adl) {
            set.cards.back()->adl = &input.adl->binder;
            set.cards.back()->adlHooks = input.adl->hooks;
        }
        if (job.settleCount.load() > set.largestSettle)
            set.largestSettle = job.settleCount.load();
        if (list) {
            printer.Print(L" PCIe Bus: 0x%02X%X%X   FPGA version: ", info.bus, info.device, info.function);
            // Through the display library the versions were read by the attempt; the cards' own engines
            // cannot be driven while the display driver owns them.
            if (choice.adlMode) {
                printer.Print(L"%ls\n", attempt.versions[static_cast<size_t>(i)].c_str());
                continue;
            }
            const FpgaVersion version = set.cards.back()->GetFpgaVersion();
            if (!version.allowsFlashImage)
                choice.imageVerified = false;
            printer.Print(L"%ls\n", version.text.c_str());
        }
    }
}

} // namespace

tagPathChoice ChoosePathAndListCards(plat::Platform& platform, CPrinter& printer,
                                     const tagPathChoiceInput& input) {
    tagPathChoice choice;
    choice.xsvfPath = input.xsvfPath;
    choice.imageVerified = input.imageVerified;
    // At 50 kHz the run goes to the display-library attempt first. A pass without `xsvfPath` makes the cards
    // without listing them and goes on to the attempt; the pass after it lists them, which is final. So
    // three passes are the most there can be.
    bool attemptFirst = I2cSettings().SpeedKhz() == kValidationSpeedKhz;
    tagAdlAttempt attempt;
    attempt.adapterIndex.fill(-1);
    for (int pass = 0; pass < 3; ++pass) {
        if (!attemptFirst) {
            const bool list = choice.xsvfPath;
            if (list && input.beforeListing)
                input.beforeListing(choice.adlMode && choice.imageVerified);
            PrepareCards(platform, printer, input, list, attempt, choice);
            if (list)
                break;
            choice.xsvfPath = true;
        }
        attemptFirst = false;
        // The display-library attempt; without a library the cards are reached through their own engines.
        if (input.adl) {
            attempt = AttemptAdl(*input.adl, input.records.Data(), input.cardCount, choice.imageVerified,
                                 input.options.i2cSpeedKhz != 0, input.closeDesktopManager);
            choice.adlMode = attempt.adlMode;
            choice.imageVerified = attempt.imageVerified;
        }
    }
    return choice;
}

CalibrationProgress ConsoleSpinner(plat::Console& console) {
    return [&console](uint32_t done, uint32_t total) {
        static const wchar_t* const kSteps[] = {L"\b|", L"\b/", L"\b-", L"\b\\"};
        if (done == 0) {
            console.Write(L" ");
            return;
        }
        console.Write(kSteps[(done - 1) % 4]);
        if (done == total)
            console.Write(L"\b");
    };
}
