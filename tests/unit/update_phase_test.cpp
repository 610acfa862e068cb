#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Goldens.h"
#include "app/stages/UpdatePhase.h"
#include "fakes/FakePlatform.h"
#include "fakes/RecordingRegisterBus.h"

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

TEST(UpdatePhase, WarningBoxForTheXsvfStream) {
    Phase f;
    f.phase.PrintWarningBox();
    EXPECT_EQ(f.p.fakeConsole.out, testsupport::WarningBox(true));
    EXPECT_EQ(f.p.fakeConsole.attributes, (std::vector<uint16_t>{12, 7}));
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

} // namespace
