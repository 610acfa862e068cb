#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/UpdateRun.h"
#include "app/stages/StartUp.h"
#include "app/stages/UpdateFileCheck.h"
#include "fakes/FakePlatform.h"
#include "update/Md5.h"

namespace {

const std::wstring kLogPath =
    L"C:\\Users\\u\\AppData\\Local\\Veskora\\VskQ740FwUpdater\\VskQ740FwUpdater.log";

TEST(UpdateRun, ProgramDirectoryEndsAtTheLastBackslash) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe", L"C:\\Program Files\\Veskora\\"},
        {L"D:\\x\\renamed.exe", L"D:\\x\\"},
        {L"VskQ740FwUpdater.exe", L""},
    };
    for (const auto& [module, dir] : cases)
        EXPECT_EQ(ProgramDirectory(module), dir);
}

TEST(UpdateRun, LogTimeUsesTwelveHourClockWithoutMarker) {
    const std::pair<plat::LocalTime, std::wstring> cases[] = {
        {{2026, 12, 6, 15, 4, 9}, L"06-12-2026 03:04:09"},
        {{2027, 1, 31, 0, 30, 0}, L"31-01-2027 12:30:00"},
        {{2027, 7, 1, 12, 0, 59}, L"01-07-2027 12:00:59"},
    };
    for (const auto& [time, text] : cases)
        EXPECT_EQ(FormatLogTime(time), text);
}

struct RunFixture : testing::Test {
    FakePlatform p;
    CUpdateRun run{p};

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "VskQ740FwUpdater.exe");
        argStore = args;
        std::vector<char*> argv;
        for (auto& a : argStore)
            argv.push_back(a.data());
        return run.Run(static_cast<int>(argv.size()), argv.data());
    }
    std::string Log() { return p.fakeFiles.FileText(kLogPath); }
    std::vector<std::string> argStore;
};

TEST_F(RunFixture, WithoutTheServiceTheRunEndsAfterTheBanner) {
    p.fakeConsole.window = 77;
    const int code = Run({});
    EXPECT_EQ(code, 1);
    EXPECT_EQ(p.fakeConsole.out, "\n\nVeskora Q740 Firmware Update Utility - Version 2.0.3.1\n\n\n"
                                 "ERROR: InitVSKLibrary failed.\n\nPress any key to exit...\n");
    EXPECT_EQ(Log(), "\r\n===================\r\n06-12-2026 03:04:09\r\n===================\r\n"
                     "Veskora Q740 Firmware Update Utility - Version 2.0.3.1\r\n\r\n\r\n"
                     "ERROR: InitVSKLibrary failed.\r\n\r\nPress any key to exit...\r\n");
    EXPECT_EQ(p.fakeConsole.keyWaits, 1);
    EXPECT_TRUE(p.fakePower.highPriority);
    EXPECT_EQ(p.fakeConsole.handlers.size(), 2u); // power handler, then the one that swallows events
    EXPECT_TRUE(p.fakeConsole.handlers.back()(plat::kCtrlCEvent));
    EXPECT_EQ(p.fakeConsole.closeRemoved, 1);
    EXPECT_EQ(p.fakeConsole.attributes, (std::vector<uint16_t>{12, 7}));
    EXPECT_EQ(p.fakeConsole.cursor, (std::vector<bool>{false, true}));
    EXPECT_TRUE(p.fakeFiles.HasDirectory(L"C:\\Users\\u\\AppData\\Local\\Veskora\\VskQ740FwUpdater"));
}

TEST_F(RunFixture, QuietSkipsTheFinalKeyWait) {
    EXPECT_EQ(Run({"-q"}), 1);
    EXPECT_EQ(p.fakeConsole.keyWaits, 0);
}

TEST_F(RunFixture, PowerHandlerCleansUpAndExitsWithOne) {
    Run({"-q"});
    try {
        p.fakeConsole.handlers.front()(plat::kCtrlCloseEvent);
        ADD_FAILURE() << "the handler returned";
    } catch (const FakeProcesses::ExitCalled& e) {
        EXPECT_EQ(e.code, 1);
    }
}

TEST(UpdateRunInstance, ASecondUpdaterIsRefusedBeforeItTouchesTheMachine) {
    using WaitResult = plat::NamedMutex::WaitResult;
    const std::wstring name = CUpdateRun::kInstanceMutexName;
    // The command line's own two line feeds come first.
    const std::string refused = "\n\nERROR: Another VskQ740FwUpdater is already running.";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        WaitResult wait; // what the wait for the mutex finds
        bool failCreate;
        int exitCode;
        std::string out; // the console's text from the start
    };
    const Case cases[] = {
        {"held", {}, WaitResult::Timeout, false, 183, refused + "\n\nPress any key to exit...\n"},
        {"held, quiet", {"-q", "-f", "fw.xsvf"}, WaitResult::Timeout, false, 183, refused},
        {"cannot be created", {"-q"}, WaitResult::Acquired, true, 183, refused},
        {"wait failed", {"-q"}, WaitResult::Failed, false, 183, refused},
        // The run goes on: the stored transcript makes it the final pass, which prints and deletes it.
        {"abandoned by an updater that died", {"-q"}, WaitResult::Abandoned, false, 0, ""},
        {"free", {"-q"}, WaitResult::Acquired, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform p;
        const std::wstring key = L"SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
        p.fakeRegistry.CreateKey(key, false);
        p.fakeRegistry.SetValue(key, L"Log", plat::RegValue::WideString(L"transcript"), false);
        p.fakeNamedObjects.results[name] = c.wait;
        if (c.failCreate)
            p.fakeNamedObjects.failing.insert(name);
        std::vector<std::string> args{"VskQ740FwUpdater.exe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        int code = 0;
        {
            CUpdateRun run(p);
            code = run.Run(static_cast<int>(argv.size()), argv.data());
        }
        EXPECT_EQ(code, c.exitCode);
        if (c.exitCode != 183) {
            EXPECT_EQ(p.fakeRegistry.values.count({FakeRegistry::Fold(key), FakeRegistry::Fold(L"Log")}), 0u)
                << "the final pass did not run";
            continue;
        }
        EXPECT_EQ(p.fakeConsole.out, c.out);
        EXPECT_EQ(p.fakeConsole.attributes, (std::vector<uint16_t>{12, 7}));
        // Nothing of the machine touched: the stored run state, the log, the power, the console handlers.
        EXPECT_EQ(p.fakeRegistry.values.size(), 1u);
        EXPECT_EQ(p.fakeRegistry.keys.size(), 1u);
        EXPECT_EQ(p.fakeRegistry.StringValue(key, L"Log"), L"transcript");
        EXPECT_EQ(p.fakeFiles.FileText(kLogPath), "");
        EXPECT_FALSE(p.fakePower.highPriority);
        EXPECT_TRUE(p.fakeConsole.handlers.empty());
        EXPECT_EQ(p.fakeNamedObjects.names, std::vector<std::wstring>(c.failCreate ? 0 : 1, name));
        EXPECT_TRUE(p.fakeNamedObjects.released.empty());
    }
}

TEST(UpdateRunInstance, TheLockIsHeldForTheWholeRunAndReleasedOnce) {
    FakePlatform p;
    {
        CUpdateRun run(p);
        std::string a0 = "prog", a1 = "-q";
        char* argv[] = {a0.data(), a1.data()};
        EXPECT_EQ(run.Run(2, argv), 1);
        // Still held after the run's end (the service's bring-up lock came and went).
        EXPECT_EQ(std::count(p.fakeNamedObjects.released.begin(), p.fakeNamedObjects.released.end(),
                             std::wstring(CUpdateRun::kInstanceMutexName)),
                  0);
    }
    EXPECT_EQ(std::count(p.fakeNamedObjects.released.begin(), p.fakeNamedObjects.released.end(),
                         std::wstring(CUpdateRun::kInstanceMutexName)),
              1);
}

TEST_F(RunFixture, TestCountWaitsSixtySecondsAndKeepsTheWindowAlone) {
    p.fakeConsole.window = 77;
    EXPECT_EQ(Run({"-tc", "3"}), 1);
    EXPECT_EQ(run.Options().testCount, 3);
    EXPECT_GE(p.fakeClock.now, 60000u);
    EXPECT_LT(p.fakeClock.now, 60000u + 200u);
    EXPECT_EQ(p.fakeConsole.handlers.size(), 1u);
    EXPECT_EQ(p.fakeConsole.closeRemoved, 0);
    EXPECT_EQ(p.fakeConsole.keyWaits, 0); // -tc makes the run quiet
}

TEST_F(RunFixture, TestCountZeroWaitsThenRunsAsAnOrdinaryRun) {
    EXPECT_EQ(Run({"-tc", "0"}), 1);
    EXPECT_EQ(run.Options().testCount, 0);
    EXPECT_GE(p.fakeClock.now, 60000u);
    EXPECT_EQ(p.fakeConsole.handlers.size(), 2u);
}

TEST_F(RunFixture, WindowsSevenForcesTheXsvfStream) {
    const std::pair<plat::WindowsVersion, int> cases[] = {
        {{6, 0}, 1}, {{6, 1}, 1}, {{6, 2}, 0}, {{10, 0}, 0}};
    for (const auto& [version, forced] : cases) {
        FakePlatform fp;
        fp.fakeEnv.version = version;
        CUpdateRun r(fp);
        std::string a0 = "prog", a1 = "-q";
        char* argv[] = {a0.data(), a1.data()};
        r.Run(2, argv);
        EXPECT_EQ(r.Options().forceXsvf, forced) << version.major << "." << version.minor;
    }
}

std::string Digest(const std::string& bytes) {
    return Md5Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(UpdateRunFiles, ChecksDecidePathAndMessages) {
    const std::string stream = "XSVF-BYTES";
    const std::string image = "BITSTREAM";
    struct Case {
        const char* name;
        bool updateFile, goodDigest, imageFile, goodImageDigest, force;
        int cards;
        int result;
        bool xsvfPath, verified;
        size_t bufferSize;
        const char* console;
    };
    const Case cases[] = {
        {"plain", true, true, false, false, false, 2, 0, true, false, 10, ""},
        {"image ok", true, true, true, true, false, 2, 0, false, true, 10, ""},
        {"image bad digest", true, true, true, false, false, 2, 0, false, false, 10, ""},
        {"forced", true, true, true, true, true, 2, 0, true, false, 10, ""},
        {"missing", false, false, false, false, false, 2, 2, true, false, 0,
         "Error: Unable to open file fw.xsvf\n"},
        {"corrupt two cards", true, false, true, true, false, 2, 0, false, false, 0,
         "\nError: fw.xsvf is corrupt and cannot be used to update your Veskora Q740 graphics cards.\n\n"},
        {"corrupt one card", true, false, false, false, false, 1, 0, true, false, 0,
         "\nError: fw.xsvf is corrupt and cannot be used to update your Veskora Q740 graphics card.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        if (c.updateFile)
            p.fakeFiles.SetFile(std::string("fw.xsvf"), stream);
        p.fakeFiles.SetFile(std::string("fw.xsvf.md5"),
                            (c.goodDigest ? Digest(stream) : Digest("x")) + "  fw.xsvf\n");
        if (c.imageFile)
            p.fakeFiles.SetFile(std::string("fw.bit"), image);
        p.fakeFiles.SetFile(std::string("fw.bit.md5"), c.goodImageDigest ? Digest(image) : std::string("0"));
        CPrinter printer(p.fakeConsole, p.fakeFiles, p.fakeEnv);
        tagCmdLineOptions options;
        options.flashFile = "fw.xsvf";
        options.forceXsvf = c.force;
        const tagUpdateFiles files = CheckUpdateFiles(p, printer, options, c.cards);
        EXPECT_EQ(files.result, c.result);
        EXPECT_EQ(files.xsvfPath, c.xsvfPath);
        EXPECT_EQ(files.imageVerified, c.verified);
        EXPECT_EQ(files.stream.size(), c.bufferSize);
        EXPECT_EQ(p.fakeConsole.out, c.console);
        if (c.force) {
            EXPECT_EQ(p.fakeFiles.ReadCount(std::string("fw.bit")), 0);
        }
        // Only the corrupt message is logged; the open error goes to the console alone.
        EXPECT_EQ(printer.Transcript().empty(), std::string(c.name).rfind("corrupt", 0) != 0);
    }
}

TEST(UpdateRunFiles, RepeatedUpdateTestAlternatesFiles) {
    const std::pair<int, const char*> cases[] = {{3, "second.xsvf"}, {2, "first.xsvf"}, {0, "first.xsvf"}};
    for (const auto& [count, used] : cases) {
        FakePlatform p;
        p.fakeFiles.SetFile(std::string(used), "data");
        p.fakeFiles.SetFile(std::string(used) + ".md5", Digest("data"));
        CPrinter printer(p.fakeConsole, p.fakeFiles, p.fakeEnv);
        tagCmdLineOptions options;
        options.flashFile = "first.xsvf";
        options.testFlashFile = "second.xsvf";
        options.testCount = count;
        const tagUpdateFiles files = CheckUpdateFiles(p, printer, options, 1);
        EXPECT_EQ(files.result, 0) << count;
        EXPECT_EQ(files.stream.size(), 4u) << count;
        EXPECT_EQ(files.fileName, std::string(used)) << count;
    }
}

} // namespace
