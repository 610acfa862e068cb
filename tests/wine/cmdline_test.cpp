// The command line of the Windows build under Wine: help and parse errors, exact bytes on standard output.
// Output redirected to a pipe is written as the C runtime's text mode writes it, so every line ends in CR LF.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Goldens.h"
#include "WineHarness.h"

namespace {

// What the parser writes, in the C runtime's text mode.
const std::string kHelp =
    testsupport::WithCrLf(std::string("\n\n") + testsupport::kHelpScreen + testsupport::kHelpEnd);
const std::string kMoreInfo = testsupport::WithCrLf(testsupport::kErrorsEnd);

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input; // what the key wait reads: a key, or the end of input at once
    std::string out;
};

class CommandLineTest : public testing::TestWithParam<Case> {};

// Help and parse errors end with exit code 0 after the key wait, before the log file is written.
TEST_P(CommandLineTest, PrintsExactTextAndEndsWithZero) {
    WINE_SKIP_UNLESS_AVAILABLE();
    const Case& c = GetParam();
    winetest::WinePrefix prefix;
    const testsupport::RunResult run = prefix.Run(c.args, c.input);
    ASSERT_FALSE(run.timedOut) << "the key wait did not end";
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.exitCode, 0);
    const std::string log = prefix.LocalAppData() + "/Veskora/VskQ740FwUpdater/VskQ740FwUpdater.log";
    EXPECT_FALSE(std::filesystem::exists(log)) << "the log was written before the options were accepted";
}

INSTANTIATE_TEST_SUITE_P(
    Wine, CommandLineTest,
    testing::Values(Case{"Help", {"-h"}, "k", kHelp}, Case{"HelpAtEndOfInput", {"/?"}, "", kHelp},
                    Case{"HelpStopsParsing", {"--HELP", "-zz"}, "", kHelp},
                    Case{"InvalidParameter",
                         {"-zz"},
                         "k",
                         std::string("\r\n\r\nError: Invalid parameter: '-zz'.\r\n") + kMoreInfo},
                    Case{"AllErrorsThenOneStop",
                         {"-f", "fw.XSVF", "bogus", "-tc"},
                         "",
                         std::string("\r\n\r\n-f is specified but does not point to a .xsvf file.\r\n"
                                     "Error: Invalid parameter: 'bogus'.\r\n"
                                     "-tc is specified but parameter is missing.\r\n") +
                             kMoreInfo},
                    Case{"ErrorThenHelp",
                         {"-zz", "-h"},
                         "",
                         std::string("\r\n\r\nError: Invalid parameter: '-zz'.\r\n") + kHelp.substr(4)}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
