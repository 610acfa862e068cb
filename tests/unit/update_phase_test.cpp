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
    std::atomic<bool> workersStarted{false};
    tagUpdatePhaseInput input{cards, bus, options, nullptr, false, false, false, false, workersStarted};
    CUpdatePhase phase{p, printer, input};
};

TEST(UpdatePhase, XsvfEstimateDependsOnTheLargestSettleCount) {
    const std::pair<uint32_t, int> cases[] = {{0, 5}, {29, 5}, {30, 3}, {40, 3}, {63, 3}, {64, 5}};
    for (const auto& [settle, minutes] : cases)
        EXPECT_EQ(CUpdatePhase::XsvfEstimateMinutes(settle), minutes) << settle;
}

TEST(UpdatePhase, CombinedPercentCountsFailedCardsAsDone) {
    struct Case {
        std::vector<uint32_t> percents;
        std::vector<int32_t> results;
        uint32_t combined;
    };
    const Case cases[] = {
        {{40, 61}, {0, 0}, 50},
        {{100, 100, 99}, {0, 0, 0}, 99},
        {{30, 100}, {2, 0}, 100},
        {{0, 0, 0, 0}, {0, 3, 0, 2}, 50},
    };
    for (const Case& c : cases) {
        std::unique_ptr<tagDeviceUpdate[]> jobs(new tagDeviceUpdate[c.percents.size()]);
        for (size_t i = 0; i < c.percents.size(); ++i) {
            jobs[i].SetPercent(c.percents[i]);
            jobs[i].SetResult(c.results[i]);
        }
        EXPECT_EQ(CombinedPercent(jobs.get(), static_cast<int32_t>(c.percents.size())), c.combined);
        for (size_t i = 0; i < c.percents.size(); ++i) {
            if (c.results[i] != 0) {
                EXPECT_EQ(jobs[i].Percent(), 100u);
            }
        }
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
