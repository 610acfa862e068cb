// The cards reached over their I2C buses: the listing's versions, the version gate, the bus test with its
// speed stepping, the speed given on the command line and the estimates. Each run stops at the prompt, so
// nothing is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "Transcript.h"

namespace {

using testsupport::kBanner;
using testsupport::WarningBox;

const std::string kStream = std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf";

// The listing of the default machine's two cards with these versions.
std::string Listing(const std::string& first, const std::string& second) {
    return testsupport::CardListing({{"0300", first}, {"0400", second}});
}

std::string Announcement(int minutes) {
    return testsupport::Announcement(kStream, std::to_string(minutes));
}

TEST(RunI2c, VersionsBusTestSpeedsAndEstimates) {
    const std::string aborted = testsupport::AbortedAtTheQuestion();
    struct Case {
        const char* name;
        std::vector<std::string> create;
        std::vector<std::string> extraArgs;
        std::string golden;
        int exitCode;
    };
    const std::vector<std::string> new0 = {"--card", "0:fpga-version=1.6.13"};
    const std::vector<std::string> new1 = {"--card", "1:fpga-version=2.0.0"};
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::string> both = with(new0, new1);
    const Case cases[] = {
        {"every card new enough: the image is checked on the engines, 2400 / 800",
         both,
         {},
         kBanner + Listing("1.6.13", "2.0.0") + Announcement(3) + WarningBox(false) + aborted,
         0},
        {"one card below 1.6.13: the XSVF stream",
         new0,
         {},
         kBanner + Listing("1.6.13", "1.6.10") + Announcement(3) + WarningBox(true) + aborted,
         0},
        {"a bus that misreads at 800: 600, 2400 / 600",
         with(both, {"--card", "1:i2c-misread-khz=700"}),
         {},
         kBanner + Listing("1.6.13", "2.0.0") + Announcement(4) + WarningBox(false) + aborted,
         0},
        {"a bus that misreads at 400: the XSVF stream",
         with(both, {"--card", "0:i2c-misread-khz=300"}),
         {},
         kBanner + Listing("1.6.13", "2.0.0") + Announcement(3) + WarningBox(true) + aborted,
         0},
        {"a slave that does not answer: the XSVF stream",
         with(both, {"--card", "1:i2c-silent=D4"}),
         {},
         kBanner + Listing("1.6.13", "2.0.0") + Announcement(3) + WarningBox(true) + aborted,
         0},
        {"-i2c 600 skips the speed test",
         with(both, {"--card", "0:i2c-misread-khz=500"}),
         {"-i2c", "600"},
         kBanner + Listing("1.6.13", "2.0.0") + Announcement(4) + WarningBox(false) + aborted,
         0},
        {"-i2c 50",
         both,
         {"-i2c", "50"},
         kBanner + Listing("1.6.13", "2.0.0") + Announcement(48) + WarningBox(false) + aborted,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine(with({"--virtual-clock"}, c.create));
        std::vector<std::string> args = {"-f", kStream};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        const ProgramRun run = machine.Run(args, "n");
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_TRANSCRIPT(c.golden, run.raw.out);
        EXPECT_EQ(run.exitCode, c.exitCode);
        // Nothing was written: no card runs the example's firmware.
        EXPECT_NE(machine.FpgaVersion(0), "1.7.2");
        EXPECT_NE(machine.FpgaVersion(1), "1.7.2");
    }
}

} // namespace
