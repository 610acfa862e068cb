#include "app/stages/PathChoice.h"

namespace {

// One card object and one job per card; the listing when asked. Versions that do not allow the flash
// image clear `imageVerified`.
void PrepareCards(plat::Platform& platform, CPrinter& printer, const tagPathChoiceInput& input, bool list,
                  tagPathChoice& choice) {
    tagCardSet& set = choice.cards;
    set.cards.clear();
    set.jobs.reset(new tagDeviceUpdate[static_cast<size_t>(input.cardCount)]);
    set.count = input.cardCount;
    set.largestSettle = 0;
    for (int32_t i = 0; i < input.cardCount; ++i) {
        const tagPciInfo& info = input.records[i];
        tagDeviceUpdate& job = set.jobs[static_cast<size_t>(i)];
        job.hPci = info.hPci;
        job.regBase = info.regBase;
        job.portMode.store(choice.xsvfPath && !choice.imageVerified ? kPortCalibrated : kPortFixedSettle);
        job.settleCount.store(kDefaultSettleCount);
        job.adlIndex = -1;
        if (!input.stream.empty()) {
            job.stream = input.stream.data();
            job.streamSize = static_cast<uint32_t>(input.stream.size());
            // A card whose window could not be mapped is never driven; its update fails at once.
            if (job.regBase != 0)
                InitJtagPort(job, input.service, *platform.clock, ConsoleSpinner(*platform.console));
        }
        set.cards.emplace_back(CreateCard(&info, input.options, i, input.service));
        set.cards.back()->job = &job;
        if (job.settleCount.load() > set.largestSettle)
            set.largestSettle = job.settleCount.load();
    }
    if (list)
        printer.Print(L"   Found %d Veskora Q740 graphics card%ls:\n", input.cardCount,
                      input.cardCount == 1 ? L"" : L"s");
    for (int32_t i = 0; i < input.cardCount; ++i) {
        const FpgaVersion version = set.cards[static_cast<size_t>(i)]->GetFpgaVersion();
        if (!version.allowsFlashImage)
            choice.imageVerified = false;
        if (list) {
            const tagPciInfo& info = input.records[i];
            printer.Print(L" PCIe Bus: 0x%02X%X%X   FPGA version: ", info.bus, info.device, info.function);
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
    // Without the display library the flash image cannot be carried to the cards yet, so every pass ends
    // on the XSVF stream: the first pass without the stream only reads the versions, the second lists.
    for (int pass = 0; pass < 2; ++pass) {
        const bool list = choice.xsvfPath;
        if (list && input.beforeListing)
            input.beforeListing();
        PrepareCards(platform, printer, input, list, choice);
        if (list)
            break;
        choice.xsvfPath = true;
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
