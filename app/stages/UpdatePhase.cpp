#include "app/stages/UpdatePhase.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "app/stages/BusTest.h"
#include "app/stages/Prompt.h"
#include "update/JtagPort.h"
#include "update/QSeries.h"
#include "update/UpdateFiles.h"

namespace {

constexpr uint32_t kProgressPauseMs = 100;
constexpr uint32_t kTestAbortWindowMs = 5000;
constexpr uint32_t kAfterUpdateWaitMs = 5000;
constexpr int kBeepEvery = 4;

const wchar_t* const kSpinner[] = {L"|", L"/", L"-", L"\\"};

const wchar_t kBoxEdge[] = L"   **********************************************************";
const wchar_t kBoxEmpty[] = L"   *                                                        *\n";

std::wstring Repeat(wchar_t c, size_t n) {
    return std::wstring(n, c);
}

} // namespace

CUpdatePhase::CUpdatePhase(plat::Platform& platform, CPrinter& printer, const tagUpdatePhaseInput& input)
    : platform_(platform), printer_(printer), input_(input), imageVerified_(input.imageVerified) {}

int CUpdatePhase::XsvfEstimateMinutes(uint32_t largestSettleCount) {
    return (largestSettleCount < 30 || largestSettleCount == kMaxSettleCount) ? 5 : 3;
}

int CUpdatePhase::EstimateMinutes() const {
    const uint32_t speed = I2cSettings().SpeedKhz();
    if (imageVerified_ && input_.adlMode && speed != 0)
        return static_cast<int>(static_cast<uint32_t>(input_.cards.count) * 8u * 800u / speed);
    if (imageVerified_ && speed != 0)
        return static_cast<int>(2400u / speed);
    return XsvfEstimateMinutes(input_.cards.largestSettle);
}

void CUpdatePhase::PrintWarningBox() {
    std::wstring box = L"\n\n";
    box += kBoxEdge;
    box += L"\n   *                        WARNING:                        *\n";
    box += kBoxEmpty;
    if (!imageVerified_) {
        box += L"   *      ALL DISPLAYS WILL GO BLANK DURING THE UPDATE.     *\n";
        box += kBoxEmpty;
    }
    box += L"   *   FOR CHANGES TO TAKE EFFECT, THE SYSTEM MAY RESTART   *\n";
    box += L"   *               AT THE END OF THE UPDATE.                *\n";
    box += kBoxEmpty;
    box += L"   *   BEFORE RESTARTING YOUR SYSTEM, CLOSE ALL PROGRAMS.   *\n";
    box += kBoxEdge;
    box += L"\n\n\n";
    printer_.SetColour(CPrinter::kRed);
    printer_.Print(L"%ls", box.c_str());
    printer_.SetColour(CPrinter::kNormal);
}

bool CUpdatePhase::AskToContinue() {
    return ::AskToContinue(printer_, *platform_.console);
}

bool CUpdatePhase::TestAborted() {
    printer_.Print(L"\nTEST COUNT=%d\n", input_.options.testCount);
    printer_.Print(L"Press SPACE BAR to abort test...");
    bool aborted = false;
    const uint64_t start = platform_.clock->ProcessMilliseconds();
    while (!aborted && platform_.clock->ProcessMilliseconds() - start < kTestAbortWindowMs) {
        while (platform_.console->KeyAvailable()) {
            const int key = platform_.console->ReadKey();
            if (key == ' ')
                aborted = true;
            if (key < 0)
                break;
        }
        platform_.clock->SleepMs(10);
    }
    printer_.Print(L"%ls", Repeat(L'\b', 32).c_str());
    return aborted;
}

bool CUpdatePhase::StartWorkers() {
    printer_.Print(L"Programming the FPGA:....... 00%% ");
    updateStartMs_ = platform_.clock->ProcessMilliseconds();
    // The handler sets its flag before it looks at this one, and this side the other way round, so at
    // least one of them sees the other: either the handler ends the process before any worker starts, or
    // the run sees the event here, or the handler leaves the ending to the run after the workers.
    input_.workersStarted.store(true);
    if (input_.stopRequested.load())
        return false;
    tagCardSet& set = input_.cards;
    const std::string imageName = FlashImageName(input_.fileName ? input_.fileName : "");
    for (int32_t i = 0; i < set.count; ++i) {
        tagDeviceUpdate& job = set.jobs[static_cast<size_t>(i)];
        if (job.regBase == 0) {
            // No register window: nothing can be driven, so the card fails at once.
            job.Finish(kUpdateCardUnusable);
            continue;
        }
        CQSeries* card = set.cards[static_cast<size_t>(i)].get();
        if (imageVerified_)
            StartFlashWorker(card, &job, *platform_.files, imageName);
        else
            StartCardWorker(card, &job);
    }
    return true;
}

void CUpdatePhase::ShowProgress() {
    // Beeps belong to the XSVF path only.
    const bool beeping = input_.options.beep && !imageVerified_;
    int beeps = 0;
    size_t turn = 0;
    for (;;) {
        platform_.clock->SleepMs(kProgressPauseMs);
        const uint32_t percent = CombinedPercent(input_.cards.jobs.get(), input_.cards.count);
        printer_.Print(L"\b\b\b\b%02d%%", static_cast<int>(percent));
        const wchar_t* spin = kSpinner[turn++ % 4];
        printer_.Print(L"%ls", spin);
        if (spin == kSpinner[3] && beeping && ++beeps == kBeepEvery) {
            platform_.console->WriteNarrow("\x07");
            beeps = 0;
        }
        // 100 only when every job is finished: each worker has made its last store and touches nothing more.
        if (percent >= 100)
            break;
    }
    printer_.Print(L"\b \n\n");
}

int CUpdatePhase::CollectResults() {
    int result = 0;
    tagCardSet& set = input_.cards;
    // Every worker has returned: nothing goes through the display library any more.
    if (input_.adlMode && input_.unbindAdl)
        input_.unbindAdl();
    for (int32_t i = 0; i < set.count; ++i) {
        tagDeviceUpdate& job = set.jobs[static_cast<size_t>(i)];
        const int32_t code = job.Result();
        if (input_.adlMode)
            job.portMode.store(kPortReadBack);
        if (job.regBase != 0)
            CloseJtagPort(job, input_.bus, *platform_.clock, code == 0);
        if (code != 0)
            result = code;
    }
    platform_.clock->SleepMs(kAfterUpdateWaitMs);
    return result;
}

void CUpdatePhase::ReportResults(int result) {
    if (result != 0) {
        bool first = true;
        for (int32_t i = 0; i < input_.cards.count; ++i) {
            const int32_t code = input_.cards.jobs[static_cast<size_t>(i)].Result();
            if (code == 0)
                continue;
            // One line per failed card: a second failure starts on a line of its own.
            printer_.SetColour(CPrinter::kRed);
            printer_.Print(L"%lsUpdate failed on device at index %d with error code %d", first ? L"" : L"\n",
                           i, code);
            printer_.SetColour(CPrinter::kNormal);
            first = false;
        }
        if (imageVerified_) {
            printer_.SetColour(CPrinter::kRed);
            printer_.Print(
                L"\nTo avoid this error, run VskQ740FwUpdater with the -x command line parameter.");
            printer_.SetColour(CPrinter::kNormal);
        }
    } else {
        const uint64_t seconds = (platform_.clock->ProcessMilliseconds() - updateStartMs_) / 1000;
        printer_.Print(L"Execution time = %.d seconds", static_cast<int>(seconds));
    }
    printer_.Print(L"\n");
}

// The cards' own engines carry the flash image only when every card's bus reads back consistently.
void CUpdatePhase::TestBuses() {
    if (!imageVerified_ || input_.adlMode)
        return;
    std::vector<CI2cPort*> ports;
    for (const auto& card : input_.cards.cards)
        ports.push_back(card.get());
    if (!TestCardBuses(ports, input_.options.i2cSpeedKhz != 0))
        imageVerified_ = false;
}

// After a flash-image update through the cards' engines: every card's three slaves must answer with one
// version. The first card that does not fails the run with 45067 and ends the checks.
int CUpdatePhase::CheckCards() {
    for (int32_t i = 0; i < input_.cards.count; ++i) {
        tagDeviceUpdate& job = input_.cards.jobs[static_cast<size_t>(i)];
        if (job.regBase == 0)
            continue;
        CQSeries& card = *input_.cards.cards[static_cast<size_t>(i)];
        InitJtagPort(job, input_.bus, *platform_.clock, {});
        card.I2cEngineAcquire();
        unsigned char reference[4] = {}, other[4] = {};
        card.I2cRead(kFpgaSlaves[0], 2, kFpgaVersionSubAddress, 4, reference);
        bool same = true;
        for (uint32_t slave : {kFpgaSlaves[1], kFpgaSlaves[2]}) {
            if (!card.I2cRead(slave, 2, kFpgaVersionSubAddress, 4, other) ||
                !std::equal(reference + 1, reference + 4, other + 1)) {
                same = false;
                break;
            }
        }
        card.I2cEngineRelease();
        CloseJtagPort(job, input_.bus, *platform_.clock, false);
        if (!same) {
            job.SetResult(kUpdateCheckFailed);
            return kUpdateCheckFailed;
        }
    }
    return 0;
}

void CUpdatePhase::ClosePorts(bool success) {
    for (int32_t i = 0; i < input_.cards.count; ++i) {
        tagDeviceUpdate& job = input_.cards.jobs[static_cast<size_t>(i)];
        if (job.regBase != 0)
            CloseJtagPort(job, input_.bus, *platform_.clock, success);
    }
}

tagUpdatePhaseOutcome CUpdatePhase::Run() {
    if (!input_.haveStream) {
        printer_.Print(L"\n");
        return {};
    }
    for (int32_t i = 0; i < input_.cards.count; ++i)
        input_.cards.jobs[static_cast<size_t>(i)].settleCount.store(input_.cards.largestSettle);
    const std::wstring name = platform_.env->ToWide(input_.fileName ? input_.fileName : "");
    printer_.Print(L"\n");
    printer_.Print(L"   XSVF update file: %ls\n", name.c_str());
    printer_.Print(L"   Calibration... ");
    TestBuses();
    printer_.Print(L" Done.\n   Update will take up to %d minutes.\n", EstimateMinutes());
    PrintWarningBox();

    bool aborted = false;
    if (input_.options.testCount > 0)
        aborted = TestAborted();
    else if (!input_.options.quiet)
        aborted = !AskToContinue();
    if (aborted) {
        printer_.Print(L"   Update aborted.\n\n");
        ClosePorts(false);
        tagUpdatePhaseOutcome outcome;
        outcome.aborted = true;
        return outcome;
    }

    if (input_.beforeWorkers)
        input_.beforeWorkers();
    if (!StartWorkers()) {
        ClosePorts(false);
        tagUpdatePhaseOutcome outcome;
        outcome.stopped = true;
        return outcome;
    }
    ShowProgress();
    tagUpdatePhaseOutcome outcome;
    outcome.updated = true;
    outcome.result = CollectResults();
    if (outcome.result == 0 && imageVerified_ && !input_.adlMode)
        outcome.result = CheckCards();
    outcome.imageVerified = imageVerified_;
    ReportResults(outcome.result);
    return outcome;
}
