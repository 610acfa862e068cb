// One updater at a time under Windows: while one waits for its last key, a second is refused by the
// machine-wide mutex with its message and exit code, and once the first has ended the next one runs.
#include <gtest/gtest.h>

#include <string>

#include "Goldens.h"
#include "WineHarness.h"

namespace {

const std::string kRefused = "\n\nERROR: Another VskQ740FwUpdater is already running.";
const char kFailure[] = "ERROR: InitVSKLibrary failed.";

TEST(WineSingleInstanceTest, ASecondUpdaterIsRefusedWhileTheFirstRuns) {
    WINE_SKIP_UNLESS_AVAILABLE();
    winetest::WinePrefix prefix;
    ASSERT_EQ(prefix.Run({"-h"}).exitCode, 0); // makes the prefix
    // A folder where the library goes: every run ends early and waits for its key.
    ASSERT_TRUE(std::filesystem::create_directory(prefix.DriveC() + "/windows/system32/VskVxdSC.dll"));

    bool ran = false;
    testsupport::RunResult second, secondPrompted;
    const testsupport::RunResult first = prefix.RunFed({}, [&](const std::string& out, bool& close) {
        if (out.find("Press any key to exit...") == std::string::npos)
            return std::string();
        if (!ran) {
            ran = true;
            second = prefix.Run({"-q"});
            secondPrompted = prefix.Run({}, "k");
        }
        close = true;
        return std::string("k");
    });
    ASSERT_TRUE(ran) << first.out;
    EXPECT_EQ(second.out, testsupport::WithCrLf(kRefused));
    EXPECT_EQ(second.exitCode, 183);
    EXPECT_EQ(secondPrompted.out, testsupport::WithCrLf(kRefused + testsupport::kPressAnyKey));
    EXPECT_EQ(secondPrompted.exitCode, 183);
    ASSERT_FALSE(first.timedOut);
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_NE(first.out.find(kFailure), std::string::npos) << first.out;

    // The first released the mutex when it ended.
    const testsupport::RunResult later = prefix.Run({"-q"});
    EXPECT_EQ(later.exitCode, 1);
    EXPECT_NE(later.out.find(kFailure), std::string::npos) << later.out;
}

} // namespace
