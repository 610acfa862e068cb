#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Goldens.h"
#include "app/CmdLine.h"
#include "fakes/FakePlatform.h"

namespace {

const std::string kHelp = testsupport::kHelpScreen;

struct Parsed {
    CCmdLine::Outcome outcome;
    std::string out;
    CCmdLine options;
};

Parsed ParseArgs(std::vector<std::string> args) {
    args.insert(args.begin(), "VskQ740FwUpdater.exe");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    FakeConsole console;
    Parsed p;
    p.outcome = p.options.ParseArguments(static_cast<int>(args.size()), argv.data(), console);
    p.out = console.out;
    // The record points into the arguments, which go away here; keep only whether they were set.
    p.options.flashFile = p.options.flashFile ? "set" : nullptr;
    p.options.testFlashFile = p.options.testFlashFile ? "set" : nullptr;
    return p;
}

TEST(CmdLine, HelpScreenBytes) {
    FakeConsole console;
    CCmdLine::PrintHelp(console);
    EXPECT_EQ(console.out, kHelp);
}

TEST(CmdLine, AcceptedOptionsSetTheirFields) {
    struct Case {
        std::vector<std::string> args;
        int quiet, beep, noReboot, forceXsvf, calibrate, verbose, testCount;
        uint32_t i2c;
        bool flash, testFlash;
    };
    const Case cases[] = {
        {{}, 0, 1, 0, 0, -1, 0, 0, 0, false, false},
        {{"-f", "fw.xsvf", "-q"}, 1, 1, 0, 0, -1, 0, 0, 0, true, false},
        {{"-X", "--XSVF", "-B", "--NoReboot"}, 0, 0, 1, 1, -1, 0, 0, 0, false, false},
        {{"--flash", "dir/fwxsvf"}, 0, 1, 0, 0, -1, 0, 0, 0, true, false},
        {{"-f", "xsvf"}, 0, 1, 0, 0, -1, 0, 0, 0, true, false},
        {{"-c", "5"}, 0, 1, 0, 0, 1, 0, 0, 0, false, false},
        {{"--calibrate", "0"}, 0, 1, 0, 0, 0, 0, 0, 0, false, false},
        {{"-v", "  -12abc"}, 0, 1, 0, 0, -1, -12, 0, 0, false, false},
        {{"-tc", "0"}, 1, 1, 0, 0, -1, 0, -1, 0, false, false},
        {{"-tc", "abc"}, 1, 1, 0, 0, -1, 0, -1, 0, false, false},
        {{"--testcount", "12", "-tf", "-q"}, 1, 1, 0, 0, -1, 0, 12, 0, false, true},
        {{"-i2c", "0"}, 0, 1, 0, 0, -1, 0, 0, 0, false, false},
        {{"-I2C", "400"}, 0, 1, 0, 0, -1, 0, 0, 400, false, false},
        {{"--override-i2c-speed", "-1"}, 0, 1, 0, 0, -1, 0, 0, 0xFFFFFFFFu, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Parsed p = ParseArgs(c.args);
        EXPECT_EQ(p.outcome, CCmdLine::Outcome::Accepted);
        EXPECT_EQ(p.out, "\n\n");
        EXPECT_EQ(p.options.quiet, c.quiet);
        EXPECT_EQ(p.options.beep, c.beep);
        EXPECT_EQ(p.options.noReboot, c.noReboot);
        EXPECT_EQ(p.options.forceXsvf, c.forceXsvf);
        EXPECT_EQ(p.options.calibrate, c.calibrate);
        EXPECT_EQ(p.options.verbose, c.verbose);
        EXPECT_EQ(p.options.testCount, c.testCount);
        EXPECT_EQ(p.options.i2cSpeedKhz, c.i2c);
        EXPECT_EQ(p.options.flashFile != nullptr, c.flash);
        EXPECT_EQ(p.options.testFlashFile != nullptr, c.testFlash);
        EXPECT_EQ(p.options.logToFile, 1);
    }
}

TEST(CmdLine, ErrorsAreAllReportedInOrder) {
    struct Case {
        std::vector<std::string> args;
        const char* out;
    };
    const Case cases[] = {
        {{"-f", "-q"}, "\n\n-f is specified but does not point to a .xsvf file.\n"},
        {{"-f"}, "\n\n-f is specified but does not point to a .xsvf file.\n"},
        {{"-f", "abc"}, "\n\n-f is specified but does not point to a .xsvf file.\n"},
        {{"-f", "fw.XSVF"}, "\n\n-f is specified but does not point to a .xsvf file.\n"},
        {{"bogus", "-zz"}, "\n\nError: Invalid parameter: 'bogus'.\nError: Invalid parameter: '-zz'.\n"},
        {{"-tc"}, "\n\n-tc is specified but parameter is missing.\n"},
        {{"-tf"}, "\n\n-tf is specified but parameter is missing.\n"},
        {{"-v"}, "\n\n-v is specified but parameter is missing.\n"},
        {{"-c"}, "\n\n--calibrate is specified but parameter is missing.\n"},
        {{"-i2c"}, "\n\n--override-i2c-speed is specified but parameter is missing.\n"},
        {{"-q", "x", "-f", "a.xsvf", "y"},
         "\n\nError: Invalid parameter: 'x'.\nError: Invalid parameter: 'y'.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Parsed p = ParseArgs(c.args);
        EXPECT_EQ(p.outcome, CCmdLine::Outcome::Errors);
        EXPECT_EQ(p.out, c.out);
    }
}

TEST(CmdLine, HelpStopsTheParseAfterEarlierErrors) {
    Parsed p = ParseArgs({"bad", "-H", "alsobad"});
    EXPECT_EQ(p.outcome, CCmdLine::Outcome::Help);
    EXPECT_EQ(p.out, "\n\nError: Invalid parameter: 'bad'.\n" + kHelp);
    for (const char* form : {"/?", "-?", "--?", "--HELP", "-help"})
        EXPECT_EQ(ParseArgs({form}).outcome, CCmdLine::Outcome::Help) << form;
}

TEST(CmdLine, LongAndOddArgumentsAreReportedWhole) {
    const std::string huge(100000, 'z');
    const std::string binary("\xff\xfe\x01 \xc3\x28", 6);
    Parsed p = ParseArgs({huge, binary});
    EXPECT_EQ(p.out,
              "\n\nError: Invalid parameter: '" + huge + "'.\nError: Invalid parameter: '" + binary + "'.\n");
}

TEST(CmdLine, NumbersParseLikeDecimalText) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {{"42", 42},
                          {"  7x", 7},
                          {"+3", 3},
                          {"-0", 0},
                          {"", 0},
                          {"abc", 0},
                          {"\t\n 19", 19},
                          {"- 5", 0},
                          {"2147483647", 2147483647},
                          {"4294967295", -1},
                          {"99999999999", 1215752191}};
    for (const Case& c : cases)
        EXPECT_EQ(CCmdLine::ParseNumber(c.text), c.value) << c.text;
}

TEST(CmdLine, ParseWaitsForAKeyAndExitsWithZeroOnErrorsAndHelp) {
    struct Case {
        std::vector<std::string> args;
        std::string tail;
    };
    const Case cases[] = {
        {{"x"}, testsupport::kErrorsEnd},
        {{"-h"}, testsupport::kHelpEnd},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "prog");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        FakeConsole console;
        FakeProcesses processes;
        CCmdLine options;
        options.quiet = 1; // the waits happen even in quiet mode
        try {
            options.Parse(static_cast<int>(argv.size()), argv.data(), console, processes);
            ADD_FAILURE() << "Parse returned";
        } catch (const FakeProcesses::ExitCalled& e) {
            EXPECT_EQ(e.code, 0);
        }
        EXPECT_EQ(console.keyWaits, 1);
        ASSERT_GE(console.out.size(), c.tail.size());
        EXPECT_EQ(console.out.substr(console.out.size() - c.tail.size()), c.tail);
    }
}

} // namespace
