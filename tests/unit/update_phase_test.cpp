#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "Goldens.h"
#include "app/stages/UpdatePhase.h"
#include "fakes/FakePlatform.h"
#include "fakes/RecordingRegisterBus.h"
#include "update/JtagPort.h"

namespace {

// A phase over no cards, for its pieces.
struct Phase {
    FakePlatform p;
    CPrinter printer{p.fakeConsole, p.fakeFiles, p.fakeEnv};
    tagCardSet cards;
    RecordingRegisterBus bus;
    tagCmdLineOptions options;
    std::atomic<bool> workersStarted{false}, stopRequested{false};
    tagUpdatePhaseInput input{cards, bus,   options, nullptr,        false,
                              false, false, false,   workersStarted, stopRequested};
    CUpdatePhase phase{p, printer, input};
};

TEST(UpdatePhase, XsvfEstimateDependsOnTheLargestSettleCount) {
    const std::pair<uint32_t, int> cases[] = {{0, 5}, {29, 5}, {30, 3}, {40, 3}, {63, 3}, {64, 5}};
    for (const auto& [settle, minutes] : cases)
        EXPECT_EQ(CUpdatePhase::XsvfEstimateMinutes(settle), minutes) << settle;
}

TEST(UpdatePhase, CombinedPercentReaches100OnlyWhenEveryJobIsFinished) {
    constexpr int32_t kRunning = -1; // the job's worker has not finished
    struct Case {
        std::vector<uint32_t> percents; // progress of the running jobs, where the worker stopped otherwise
        std::vector<int32_t> results;   // a finished job's result, or kRunning
        uint32_t combined;
        bool allFinished;
    };
    const Case cases[] = {
        {{40, 61}, {kRunning, kRunning}, 50, false},
        {{99, 99, 99}, {0, 0, kRunning}, 99, false}, // 100 + 100 + 99: integer division
        {{30, 99}, {2, 0}, 100, true},               // a failed job counts as done
        {{0, 0, 0, 0}, {kRunning, 3, kRunning, 2}, 50, false},
        {{99, 99}, {kRunning, kRunning}, 99, false}, // every byte read is not the end of the job
        {{0}, {0}, 100, true},
    };
    for (const Case& c : cases) {
        std::unique_ptr<tagDeviceUpdate[]> jobs(new tagDeviceUpdate[c.percents.size()]);
        const int32_t count = static_cast<int32_t>(c.percents.size());
        for (size_t i = 0; i < c.percents.size(); ++i) {
            jobs[i].SetPercent(c.percents[i]);
            if (c.results[i] != kRunning)
                jobs[i].Finish(c.results[i]);
        }
        EXPECT_EQ(CombinedPercent(jobs.get(), count), c.combined);
        EXPECT_EQ(AllFinished(jobs.get(), count), c.allFinished);
        for (size_t i = 0; i < c.percents.size(); ++i)
            EXPECT_EQ(jobs[i].Result(), c.results[i] == kRunning ? 0 : c.results[i]);
    }
}

TEST(UpdatePhase, WarningBoxInRedByPath) {
    for (bool imageVerified : {false, true}) {
        SCOPED_TRACE(imageVerified);
        Phase f;
        f.input.imageVerified = imageVerified;
        CUpdatePhase phase(f.p, f.printer, f.input);
        phase.PrintWarningBox();
        // The displays go blank only while the stream is played.
        EXPECT_EQ(f.p.fakeConsole.out, testsupport::WarningBox(!imageVerified));
        EXPECT_EQ(f.p.fakeConsole.attributes, (std::vector<uint16_t>{12, 7}));
    }
}

TEST(UpdatePhase, EstimateFollowsThePathTheSpeedAndTheLargestSettleCount) {
    struct Case {
        bool imageVerified, adlMode;
        uint32_t speedKhz;
        int32_t cards;
        uint32_t largestSettle;
        int minutes;
    };
    const Case cases[] = {
        {false, false, 800, 2, 64, 5}, {false, false, 800, 2, 40, 3}, {false, false, 800, 2, 29, 5},
        {false, true, 800, 2, 30, 3},  {true, false, 600, 2, 64, 4},  {true, false, 800, 3, 64, 3},
        {true, true, 800, 2, 20, 16},  {true, true, 400, 3, 40, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.imageVerified << c.adlMode << " " << c.speedKhz << " " << c.cards
                                        << " " << c.largestSettle);
        Phase f;
        f.cards.count = c.cards;
        f.cards.largestSettle = c.largestSettle;
        f.input.imageVerified = c.imageVerified;
        f.input.adlMode = c.adlMode;
        I2cSettings().speedKhz.store(c.speedKhz);
        EXPECT_EQ(CUpdatePhase(f.p, f.printer, f.input).EstimateMinutes(), c.minutes);
    }
    I2cSettings().speedKhz.store(kDefaultI2cSpeedKhz);
}

TEST(UpdatePhase, TheTestWaitsFiveSecondsForTheSpaceBar) {
    struct Case {
        std::vector<int> keys;
        bool aborted;
        bool fullWait; // no space: the whole five seconds pass
    };
    const Case cases[] = {
        {{}, false, true},
        {{'y', 'n', 'x'}, false, true},
        {{' '}, true, false},
        {{'a', ' ', 'b'}, true, false},
    };
    for (const Case& c : cases) {
        Phase f;
        f.options.testCount = 3;
        f.p.fakeConsole.keys.assign(c.keys.begin(), c.keys.end());
        EXPECT_EQ(f.phase.TestAborted(), c.aborted);
        EXPECT_EQ(f.p.fakeConsole.out,
                  "\nTEST COUNT=3\nPress SPACE BAR to abort test..." + std::string(32, '\b'));
        EXPECT_TRUE(f.p.fakeConsole.keys.empty()); // every key pressed is read
        if (c.fullWait) {
            EXPECT_GE(f.p.fakeClock.now, 5000u);
            EXPECT_LT(f.p.fakeClock.now, 5100u);
        } else {
            EXPECT_LT(f.p.fakeClock.now, 100u);
        }
    }
}

TEST(UpdatePhase, PromptReadsKeysUntilAnAnswer) {
    struct Case {
        std::vector<int> keys;
        bool goOn;
        size_t keysLeft;
    };
    const Case cases[] = {
        {{'x', 'Y', 'n'}, true, 1},
        {{'y'}, true, 0},
        {{'q', 'N', 'y'}, false, 1},
        {{'a'}, false, 0}, // then the input ends: no answer is no
        {{}, false, 0},
    };
    for (const Case& c : cases) {
        Phase f;
        f.p.fakeConsole.keys.assign(c.keys.begin(), c.keys.end());
        EXPECT_EQ(f.phase.AskToContinue(), c.goOn);
        EXPECT_EQ(f.p.fakeConsole.out, testsupport::kPrompt + testsupport::PromptErasure());
        EXPECT_EQ(f.p.fakeConsole.keys.size(), c.keysLeft);
        // The transcript keeps what stood on the screen at the end: the prompt is gone.
        EXPECT_EQ(f.printer.Transcript(), L"");
    }
}

// A phase with a stream to play for `count` cards whose jobs have these register windows.
struct StreamPhase : Phase {
    explicit StreamPhase(const std::vector<uintptr_t>& windows) {
        cards.count = static_cast<int32_t>(windows.size());
        cards.jobs.reset(new tagDeviceUpdate[windows.size()]);
        for (size_t i = 0; i < windows.size(); ++i)
            cards.jobs[i].regBase = windows[i];
        input.fileName = "C:\\fw\\fw.xsvf";
        input.haveStream = true;
        input.xsvfPath = true;
        input.beforeWorkers = [this] { ++beforeWorkersCalls; };
    }
    const std::string announcement = "\n   XSVF update file: C:\\fw\\fw.xsvf\n   Calibration...  Done.\n"
                                     "   Update will take up to 5 minutes.\n" +
                                     testsupport::WarningBox(true);
    int beforeWorkersCalls = 0;
};

TEST(UpdatePhase, CardsThatCannotBeDrivenFailAtOnceInRedAtTheSlowestPace) {
    StreamPhase f({0, 0, 0});
    const uint32_t settles[] = {20, 64, 33};
    for (size_t i = 0; i < 3; ++i)
        f.cards.jobs[i].settleCount.store(settles[i]);
    f.cards.largestSettle = 64;
    f.options.quiet = 1;
    const tagUpdatePhaseOutcome outcome = CUpdatePhase(f.p, f.printer, f.input).Run();
    EXPECT_TRUE(outcome.updated);
    EXPECT_EQ(outcome.result, kUpdateCardUnusable);
    EXPECT_EQ(f.p.fakeConsole.out, f.announcement +
                                       "Programming the FPGA:....... 00% \b\b\b\b100%|\b \n\n"
                                       "Update failed on device at index 0 with error code 98\n"
                                       "Update failed on device at index 1 with error code 98\n"
                                       "Update failed on device at index 2 with error code 98\n");
    // The warning box, then each failure line, in red.
    EXPECT_EQ(f.p.fakeConsole.attributes, (std::vector<uint16_t>{12, 7, 12, 7, 12, 7, 12, 7}));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(f.cards.jobs[i].settleCount.load(), 64u) << i;
    EXPECT_TRUE(f.workersStarted.load());
    EXPECT_EQ(f.beforeWorkersCalls, 1);
    EXPECT_TRUE(f.bus.log.empty()); // no window, no port to close
    // One progress pause, then five seconds for the cards to come back before anything else.
    EXPECT_EQ(f.p.fakeClock.now, 5100u);
}

TEST(UpdatePhase, AnAbortStartsNoWorkerAndReleasesEveryPortWithoutThePulse) {
    struct Case {
        const char* what;
        int testCount;
        std::vector<int> keys;
        std::string question;
    };
    const Case cases[] = {
        {"n at the prompt", 0, {'x', 'n'}, testsupport::kPrompt + testsupport::PromptErasure()},
        {"the space bar in the test",
         2,
         {' '},
         "\nTEST COUNT=2\nPress SPACE BAR to abort test..." + std::string(32, '\b')},
    };
    const std::vector<RegAccess> release = {{RegOp::WriteMem, kGpioMask, kLineClaim},
                                            {RegOp::WriteMem, kGpioOutputEnable, kLineClaim},
                                            {RegOp::WriteMem, kGpioOutput, 0},
                                            {RegOp::WriteMem, kGpioMask, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreamPhase f({0x1000, 0x2000});
        f.options.testCount = c.testCount;
        f.p.fakeConsole.keys.assign(c.keys.begin(), c.keys.end());
        for (int32_t i = 0; i < 2; ++i)
            f.cards.jobs[static_cast<size_t>(i)].portMode.store(kPortCalibrated);
        f.cards.largestSettle = 0; // single writes
        f.cards.count = 2;
        const tagUpdatePhaseOutcome outcome = CUpdatePhase(f.p, f.printer, f.input).Run();
        EXPECT_TRUE(outcome.aborted);
        EXPECT_FALSE(outcome.updated);
        EXPECT_EQ(f.p.fakeConsole.out, f.announcement + c.question + "   Update aborted.\n\n");
        EXPECT_FALSE(f.workersStarted.load());
        EXPECT_EQ(f.beforeWorkersCalls, 0);
        std::vector<RegAccess> both = release;
        both.insert(both.end(), release.begin(), release.end());
        EXPECT_EQ(f.bus.log, both);
    }
}

} // namespace
