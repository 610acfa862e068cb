// Start-up of the Windows build under Wine, where the hardware-access service is not installed: the banner,
// the service failure, exit code 1, and the log file under the local application data folder.
#include <gtest/gtest.h>

#include "LogHeader.h"

#include <string>

#include "WineHarness.h"

namespace {

const char* const kBanner = "Veskora Q740 Firmware Update Utility - Version 2.0.3.1\r\n";
const char* const kFailure = "ERROR: InitVSKLibrary failed.";

std::string LogPath(const winetest::WinePrefix& prefix) {
    return prefix.LocalAppData() + "/Veskora/VskQ740FwUpdater/VskQ740FwUpdater.log";
}

TEST(WineStartupTest, ServiceMissingEndsWithOneAfterBanner) {
    WINE_SKIP_UNLESS_AVAILABLE();
    winetest::WinePrefix prefix;
    const testsupport::RunResult run = prefix.Run({}, "");
    ASSERT_FALSE(run.timedOut) << "the final key wait did not end at the end of input";
    EXPECT_EQ(run.exitCode, 1);
    const size_t banner = run.out.find(kBanner);
    ASSERT_NE(banner, std::string::npos) << run.out;
    const size_t failure = run.out.find(kFailure);
    ASSERT_NE(failure, std::string::npos) << run.out;
    EXPECT_LT(banner, failure);
    EXPECT_NE(run.out.find("Press any key to exit...\r\n", failure), std::string::npos) << run.out;
}

// Every run appends one header and its messages, with CR LF line ends; nothing truncates the file.
TEST(WineStartupTest, LogGetsHeaderAndMessagesPerRun) {
    WINE_SKIP_UNLESS_AVAILABLE();
    winetest::WinePrefix prefix;
    ASSERT_EQ(prefix.Run({"-q"}).exitCode, 1);
    const std::string first = testsupport::ReadFileText(LogPath(prefix));
    ASSERT_EQ(prefix.Run({"-q"}).exitCode, 1);
    const std::string both = testsupport::ReadFileText(LogPath(prefix));

    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(both.substr(0, first.size()), first);
    for (const std::string& run : {first, both.substr(first.size())}) {
        // The header starts each run's part, with a 12-hour clock.
        EXPECT_GT(testsupport::LogHeaderAt(run, 0), 0u) << run;
        EXPECT_NE(run.find(std::string(kBanner) + "\r\n\r\n" + kFailure), std::string::npos) << run;
        EXPECT_TRUE(testsupport::AllLineEndsCrLf(run)) << "a line feed without CR: " << run;
    }
}

} // namespace
