// The update phase: after the cards are listed, estimate, warn, ask, run one worker per card with a combined
// progress display, then close the ports and report. It says how it ended; the run decides what follows.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "app/Printer.h"
#include "app/stages/PathChoice.h"
#include "platform/Platform.h"
#include "update/CmdLineOptions.h"

struct tagUpdatePhaseInput {
    tagCardSet& cards;
    RegisterBus& bus;                 // the cards' register seam, for closing the ports
    const tagCmdLineOptions& options; // quiet, beep, testCount
    const char* fileName = nullptr;   // the update file, for the announcement
    bool haveStream = false;          // false: nothing to play, the phase only ends the listing
    bool xsvfPath = false;
    bool imageVerified = false;
    bool adlMode = false;
    std::atomic<bool>& workersStarted; // set before the first worker starts, for the run's clean-up
    // Set by a console control event that leaves the ending to the run (see CUpdateRun::Run): once
    // `workersStarted` is set, no worker starts when it is seen.
    const std::atomic<bool>& stopRequested;
    // Runs once the prompt is passed, just before the workers start (the test's RunOnce entry, the desktop
    // manager closed).
    std::function<void()> beforeWorkers = {};
    // With `adlMode`: runs once every worker has returned, before the ports close (the display library goes).
    std::function<void()> unbindAdl = {};
};

struct tagUpdatePhaseOutcome {
    // The workers ran and `result` is the run's result: 0, or the code of a failed card.
    bool updated = false;
    int result = 0;
    // The flash image was the path taken (the buses' test may have turned the run to the XSVF stream).
    bool imageVerified = false;
    // The prompt (or the test's space bar) stopped the update; nothing was written.
    bool aborted = false;
    // A console control event came before the workers started: none was started.
    bool stopped = false;
};

class CUpdatePhase {
public:
    CUpdatePhase(plat::Platform& platform, CPrinter& printer, const tagUpdatePhaseInput& input);

    tagUpdatePhaseOutcome Run();

    // Pieces of the phase, in the order Run takes them.
    static int XsvfEstimateMinutes(uint32_t largestSettleCount);
    int EstimateMinutes() const;
    void PrintWarningBox();
    // The y/n prompt; true when the user goes on. The end of the input counts as 'n'.
    bool AskToContinue();
    // The repeated-update test's chance to stop: true when a space was pressed within 5 seconds.
    bool TestAborted();

private:
    bool StartWorkers(); // false: a console control event came first, and no worker was started
    void ShowProgress();
    int CollectResults();
    void ReportResults(int result);
    void ClosePorts(bool success);
    int CheckCards();
    void TestBuses();

    plat::Platform& platform_;
    CPrinter& printer_;
    const tagUpdatePhaseInput& input_;
    uint64_t updateStartMs_ = 0;
    bool imageVerified_ = false; // cleared when the cards' buses fail their test
};
