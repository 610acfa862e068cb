// Start-up of the Windows build under Wine when the hardware-access library cannot be loaded (its place in
// System32 is taken by a folder): the banner, the service failure, exit code 1, nothing of the service left
// behind (not even the temporary file of a replacement scheduled for the next restart), and the log file
// under the local application data folder, appended to by each run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Goldens.h"
#include "LogHeader.h"
#include "WineHarness.h"

namespace {

const char* const kBanner = "Veskora Q740 Firmware Update Utility - Version 2.0.3.1\r\n";
const char* const kFailure = "ERROR: InitVSKLibrary failed.";

TEST(WineStartupTest, LibraryThatCannotLoadEndsWithOneAndLeavesNoService) {
    WINE_SKIP_UNLESS_AVAILABLE();
    winetest::WinePrefix prefix;
    // Help makes the prefix without touching the service or the log.
    ASSERT_EQ(prefix.Run({"-h"}).exitCode, 0);
    ASSERT_TRUE(std::filesystem::create_directory(prefix.DriveC() + "/windows/system32/VskVxdSC.dll"));

    const testsupport::RunResult run = prefix.Run({}, "");
    ASSERT_FALSE(run.timedOut) << "the final key wait did not end at the end of input";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, testsupport::WithCrLf(std::string(testsupport::kBanner) + kFailure +
                                             testsupport::kPressAnyKey));

    // The files written before the failed load are gone again, and so is the uninstall entry.
    for (const char* path : {"/windows/system32/drivers/VskVxdSC.sys", "/windows/syswow64/VskVxdSC.dll",
                             "/windows/syswow64/VskVxdSCUninstall.exe"}) {
        EXPECT_FALSE(std::filesystem::exists(prefix.DriveC() + path)) << path;
    }
    EXPECT_NE(
        prefix.RunTool({"reg", "query",
                        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VskVxdSC", "/reg:32"})
                .exitCode &
            0xFF,
        0);
    // Every run appends one header and its messages, with CR LF line ends; nothing truncates the file.
    const std::string first = testsupport::ReadFileText(prefix.LogPath());
    ASSERT_EQ(prefix.Run({"-q"}).exitCode, 1);
    const std::string both = testsupport::ReadFileText(prefix.LogPath());
    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(both.substr(0, first.size()), first);
    const std::string failed = std::string(kBanner) + "\r\n\r\n" + kFailure;
    const std::pair<std::string, std::string> parts[] = {
        {first, failed + "\r\n\r\nPress any key to exit...\r\n"}, // a run with the final key wait
        {both.substr(first.size()), failed},                      // a quiet one
    };
    for (const auto& [part, text] : parts) {
        // The header starts each run's part, with a 12-hour clock.
        const size_t header = testsupport::LogHeaderAt(part, 0);
        EXPECT_GT(header, 0u) << part;
        EXPECT_EQ(part.substr(header), text);
    }

    // The library that could not be written in place was put in a "vsk" temporary file and scheduled to
    // replace its target at the next restart; the failed bring-up took that move back and deleted the file,
    // so no library appears after a restart and no move is left that could only fail.
    const testsupport::RunResult pending =
        prefix.RunTool({"reg", "query", "HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "/v",
                        "PendingFileRenameOperations"});
    EXPECT_EQ(pending.out.find("\\vsk"), std::string::npos) << pending.out << pending.err << run.err;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix.DriveC() + "/users")) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.rfind("vsk", 0) == 0 && name.size() > 4 &&
                     name.compare(name.size() - 4, 4, ".tmp") == 0)
            << name;
    }
}

} // namespace
