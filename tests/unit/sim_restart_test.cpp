#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "sim/ProgramStart.h"
#include "sim/Restart.h"
#include "sim/Text.h"
#include "sim/WindowsSide.h"

namespace {

class TempMachine : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sim-restart-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST(SimCommandLine, FirstTokenQuotedOrNot) {
    struct Case {
        const char* line;
        const char* program;
        const char* arguments;
        bool quoted;
    } cases[] = {
        {"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe -f fw.xsvf", "C:\\Program",
         "Files\\Veskora\\VskQ740FwUpdater.exe -f fw.xsvf", false},
        {"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f fw.xsvf",
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe", "-f fw.xsvf", true},
        {"VskQ740FwUpdater -f C:\\fw.xsvf", "VskQ740FwUpdater", "-f C:\\fw.xsvf", false},
        {"  \t\"a b\"\t  -x ", "a b", "-x ", true},
        {"\"unterminated -q", "unterminated -q", "", true},
        {"\"\"-q", "", "-q", true},
        {"prog", "prog", "", false},
        {"", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const sim::CommandSplit split = sim::SplitFirstToken(c.line);
        EXPECT_EQ(split.program, c.program);
        EXPECT_EQ(split.arguments, c.arguments);
        EXPECT_EQ(split.quoted, c.quoted);
    }
}

TEST(SimCommandLine, ArgumentVectorAsTheCRuntimeBuildsIt) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"C:\\Temp\\\\deq740.exe disable \"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2\"",
         {"C:\\Temp\\\\deq740.exe", "disable", "PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2"}},
        {"\"C:\\a b\\p.exe\" x", {"C:\\a b\\p.exe", "x"}},
        {"C:\\a\\\"b c\"\\p.exe y", {"C:\\a\\b c\\p.exe", "y"}}, // quotes only group in the program token
        {"p a\\\\\\\"b \"c d\"", {"p", "a\\\"b", "c d"}},
        {"p \"a\"\"b\" \\\\\\\\\"x y\"", {"p", "a\"b", "\\\\x y"}},
        {"p a\\b\\\\ \"\"", {"p", "a\\b\\\\", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(sim::SplitArguments(c.line), c.args);
    }
}

TEST(SimCommandLine, ModuleResolutionTriesEachBlankAsCreateProcessDoes) {
    const std::set<std::string> base = {"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe",
                                        "C:\\Windows\\System32\\cmd.exe", "C:\\Tools\\devcon"};
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        const char* line;
        uint32_t error;
        const char* module;
        const char* arguments;
    } cases[] = {
        {"unquoted path with a blank",
         {},
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe -f fw.xsvf",
         0,
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe",
         "-f fw.xsvf"},
        {"a planted C:\\Program.exe wins",
         {"C:\\Program.exe"},
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe -q",
         0,
         "C:\\Program.exe",
         "Files\\Veskora\\VskQ740FwUpdater.exe -q"},
        {"quoted path",
         {"C:\\Program.exe"},
         "\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -q",
         0,
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe",
         "-q"},
        {"bare name from the program's folder",
         {},
         "VskQ740FwUpdater -f fw.xsvf",
         0,
         "C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe",
         "-f fw.xsvf"},
        {"bare name from System32", {}, "cmd /c exit", 0, "C:\\Windows\\System32\\cmd.exe", "/c exit"},
        {"no .exe added to a name with an extension", {}, "C:\\Tools\\devcon.com x", 2, "", ""},
        {".exe added", {"C:\\Tools\\devcon.exe"}, "C:\\Tools\\devcon x", 0, "C:\\Tools\\devcon.exe", "x"},
        {"missing", {}, "C:\\Nowhere\\x.exe -q", 2, "", ""},
        {"empty", {}, "", 2, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::set<std::string> files = base;
        files.insert(c.extra.begin(), c.extra.end());
        const sim::ResolvedModule module =
            sim::ResolveModule(c.line, {"C:\\Program Files\\Veskora", "C:\\Windows\\System32", "C:\\Windows"},
                               [&](const std::string& path) { return files.count(path) != 0; });
        EXPECT_EQ(module.error, c.error);
        if (c.error == 0) {
            EXPECT_EQ(module.module, c.module);
            EXPECT_EQ(module.arguments, c.arguments);
        }
    }
}

TEST(SimCommandLine, ProgramImagesTellWhatRuns) {
    std::string detail;
    EXPECT_EQ(sim::IdentifyProgram(sim::DriverToolImage(true), &detail), sim::ProgramKind::DriverTool);
    EXPECT_EQ(detail, "x64");
    EXPECT_EQ(sim::IdentifyProgram(sim::ProgramImage(sim::ProgramKind::LumoCore, "")),
              sim::ProgramKind::LumoCore);
    const std::string image = sim::DriverToolImage(false);
    EXPECT_EQ(sim::IdentifyProgram(image.substr(0, image.size() - 1)), sim::ProgramKind::NotAProgram);
    EXPECT_EQ(sim::IdentifyProgram("MZ\x90\x00 a real program"), sim::ProgramKind::NotAProgram);
    EXPECT_EQ(sim::IdentifyProgram(""), sim::ProgramKind::NotAProgram);
}

std::string Sz(const std::wstring& text) {
    return sim::EncodeUtf16Le(text, true);
}

class SimRunOnce : public TempMachine {};

TEST_F(SimRunOnce, EachValueIsRemovedBeforeItsCommandRunsBothViewsInOrder) {
    sim::RegistryStore store(dir_);
    ASSERT_EQ(store.CreateKey(sim::kRunOnceKey), 0);
    ASSERT_EQ(store.CreateKey(sim::kRunOnceKey32), 0);
    ASSERT_EQ(
        store.SetValue(sim::kRunOnceKey, L"VskQ740FwUpdater", sim::kRegSz, Sz(L"\"C:\\P F\\u.exe\" -f x")),
        0);
    ASSERT_EQ(store.SetValue(sim::kRunOnceKey, L"Another", sim::kRegSz, Sz(L"a.exe")), 0);
    ASSERT_EQ(store.SetValue(sim::kRunOnceKey, L"!Later", sim::kRegSz, Sz(L"later.exe")), 0);
    ASSERT_EQ(store.SetValue(sim::kRunOnceKey, L"Number", sim::kRegDword, std::string(4, '\0')), 0);
    ASSERT_EQ(store.SetValue(sim::kRunOnceKey, L"Gone", sim::kRegSz, Sz(L"gone.exe")), 0);
    ASSERT_EQ(store.SetValue(sim::kRunOnceKey32, L"Wow", 2, Sz(L"%windir%\\w.exe")), 0);
    // Stored without its terminating null, as the updater writes it.
    ASSERT_EQ(
        store.SetValue(sim::kRunOnceKey32, L"NoNull", sim::kRegSz, sim::EncodeUtf16Le(L"n.exe -q", false)),
        0);

    sim::RunOnceQueue queue = sim::RunOnceQueue::AtLogon(store, true);
    EXPECT_EQ(queue.Remaining(), 7u - 1u); // the DWORD is no command
    struct Step {
        const wchar_t* name;
        const wchar_t* command;
        bool presentWhileRunning;
        bool expand;
    } steps[] = {
        {L"!Later", L"later.exe", true, false},
        {L"Another", L"a.exe", false, false},
        {L"VskQ740FwUpdater", L"\"C:\\P F\\u.exe\" -f x", false, false},
        {L"NoNull", L"n.exe -q", false, false},
        {L"Wow", L"%windir%\\w.exe", false, true},
    };
    for (const Step& step : steps) {
        if (std::wstring(step.name) == L"VskQ740FwUpdater")
            store.DeleteValue(sim::kRunOnceKey, L"Gone"); // a program that ran before removed it: not run
        SCOPED_TRACE(sim::ToUtf8(step.name));
        sim::RunOnceEntry entry;
        ASSERT_TRUE(queue.Next(store, entry));
        EXPECT_EQ(entry.name, step.name);
        EXPECT_EQ(entry.command, step.command);
        EXPECT_EQ(entry.expand, step.expand);
        uint32_t type = 0;
        std::string data;
        EXPECT_EQ(store.QueryValue(entry.key, entry.name, 4096, type, data) == 0, step.presentWhileRunning);
        queue.Finished(store, entry);
        EXPECT_NE(store.QueryValue(entry.key, entry.name, 4096, type, data), 0);
    }
    sim::RunOnceEntry entry;
    EXPECT_FALSE(queue.Next(store, entry));
    // Only the DWORD is left.
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(store.QueryValue(sim::kRunOnceKey, L"Number", 4, type, data), 0);

    // 32-bit Windows has no second view.
    ASSERT_EQ(store.SetValue(sim::kRunOnceKey32, L"Wow", sim::kRegSz, Sz(L"w.exe")), 0);
    EXPECT_EQ(sim::RunOnceQueue::AtLogon(store, false).Remaining(), 0u);
    EXPECT_EQ(sim::RunOnceQueue::AtLogon(store, true).Remaining(), 1u);
}

class SimRestartMachine : public TempMachine {};

TEST_F(SimRestartMachine, RestartRunsMovesAppliesPendingDevicesAndStartsTheDesktopManagerAfterRunOnce) {
    sim::WindowsSide side;
    std::string error;
    sim::MachineDescription machine = sim::DefaultMachine(2);
    ASSERT_TRUE(sim::ReadWindowsSide(machine, side, error)) << error;
    ASSERT_TRUE(sim::InstallWindowsSide(dir_, side, error)) << error;

    // The updater disabled the cards (a restart needed) and asked for the restart.
    const std::string tool = "C:\\Users\\user\\AppData\\Local\\Temp\\\\deq740.exe";
    sim::MachineFiles files(dir_);
    ASSERT_TRUE(files.Write(tool, sim::DriverToolImage(true)));
    side.driver.disableNeedsRestart = true;
    sim::ChildRun run =
        sim::StartProgram(dir_, side, tool + " disable \"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2\"",
                          "C:\\Windows\\System32", 1, 0x2000, 0);
    EXPECT_EQ(run.startError, 0u);
    EXPECT_EQ(run.exitCode, 1u);
    sim::PowerState power;
    ASSERT_TRUE(sim::LoadPower(dir_, side.power, power));
    sim::EnableShutdownPrivilege(power, side.power);
    ASSERT_EQ(sim::RequestShutdown(power, side.power, "VskQ740FwUpdater.exe", 0, true, true, 0x00010003), 0u);
    ASSERT_TRUE(sim::SavePower(dir_, power));

    std::vector<std::string> order;
    sim::RestartReport report;
    ASSERT_TRUE(sim::RestartMachine(
        dir_, side,
        [&](int& done, std::string& failures) {
            std::vector<sim::DisplayDevice> devices = side.devices;
            sim::LoadDeviceStates(dir_, devices);
            order.push_back(std::string("moves, card ") + sim::DeviceStateName(devices[2].state));
            sim::ProcessTable table;
            table.Load(dir_);
            order.push_back("processes " + std::to_string(table.Snapshot(0).size()));
            done = 1;
            failures = "";
            return true;
        },
        report));
    EXPECT_EQ(order, (std::vector<std::string>{"moves, card disable-pending", "processes 0"}));
    EXPECT_EQ(report.fileMoves, 1);
    EXPECT_EQ(report.deviceChanges, 2);
    EXPECT_TRUE(report.requested);
    std::vector<sim::DisplayDevice> devices = side.devices;
    ASSERT_TRUE(sim::LoadDeviceStates(dir_, devices));
    for (const sim::DisplayDevice& d : devices)
        EXPECT_EQ(d.state, d.IsQ740() ? sim::DeviceState::Disabled : sim::DeviceState::Enabled)
            << d.Location();
    ASSERT_TRUE(sim::LoadPower(dir_, side.power, power));
    EXPECT_FALSE(power.restart.requested);

    // While RunOnce runs, the desktop manager is not up yet; after it, it is.
    sim::ProcessTable table;
    ASSERT_TRUE(table.Load(dir_));
    auto cores = [&](sim::ProcessTable& t) {
        int n = 0;
        for (const sim::ProcessEntry& p : t.Snapshot(0))
            n += p.image == sim::kLumoCoreImage ? 1 : 0;
        return n;
    };
    EXPECT_EQ(cores(table), 0);
    EXPECT_FALSE(table.EventExists(1, sim::LumoCloseEventName(1)));
    ASSERT_TRUE(sim::FinishLogon(dir_, side));
    ASSERT_TRUE(table.Load(dir_));
    EXPECT_EQ(cores(table), 1);
    EXPECT_TRUE(table.EventExists(1, sim::LumoCloseEventName(1)));
}

TEST_F(SimRestartMachine, StartingProgramsOnTheMachine) {
    sim::WindowsSide side;
    std::string error;
    ASSERT_TRUE(sim::ReadWindowsSide(sim::DefaultMachine(1), side, error)) << error;
    ASSERT_TRUE(sim::InstallWindowsSide(dir_, side, error)) << error;
    sim::MachineFiles files(dir_);
    const std::string temp = "C:\\Users\\user\\AppData\\Local\\Temp\\";
    ASSERT_TRUE(files.Write(temp + "\\deq740.exe", sim::DriverToolImage(true)));
    ASSERT_TRUE(files.Write(temp + "junk.exe", "MZ not a stand-in"));
    const std::string lumo = "C:\\Program Files (x86)\\Veskora Graphics\\Lumoview\\";

    struct Case {
        const char* name;
        std::string line;
        uint32_t startError, exitCode;
        bool keepsRunning;
    } cases[] = {
        {"export, unquoted paths with blanks", lumo + "Veskora.LumoCmd.exe /export " + temp + "lvcfg.txt", 0,
         0, false},
        {"import of it", lumo + "Veskora.LumoCmd.exe /import " + temp + "lvcfg.txt", 0, 0, false},
        {"driver tool", temp + "\\deq740.exe driverfiles \"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2\"", 0, 0,
         false},
        {"not a program", temp + "junk.exe", sim::kErrorBadExeFormat, 0, false},
        {"missing", temp + "none.exe", sim::kErrorFileNotFound, 0, false},
        {"core of an ended desktop manager", lumo + "Veskora.Lumo.Core.exe", 0, 0, true},
        {"a second core", lumo + "Veskora.Lumo.Core.exe", 0, 0, false},
    };
    sim::ProcessTable table;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "core of an ended desktop manager") {
            ASSERT_TRUE(table.Load(dir_));
            for (const sim::ProcessEntry& p : table.Snapshot(0)) {
                if (p.image == sim::kLumoCoreImage || p.image == sim::kLumoStartupImage)
                    table.Terminate(p.pid, 0, 0);
            }
            ASSERT_TRUE(table.Save(dir_));
        }
        const sim::ChildRun run =
            sim::StartProgram(dir_, side, c.line, "C:\\Windows\\System32", 1, 0x2000, 0);
        EXPECT_EQ(run.startError, c.startError);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.keepsRunning, c.keepsRunning);
    }
    std::string exported;
    ASSERT_TRUE(files.Read(temp + "lvcfg.txt", exported));
    EXPECT_EQ(exported, sim::InitialStore(sim::StoreContent::Text));
    ASSERT_TRUE(table.Load(dir_));
    int cores = 0;
    for (const sim::ProcessEntry& p : table.Snapshot(0))
        cores += p.image == sim::kLumoCoreImage && p.session == 1 && p.parentPid == 0x2000 ? 1 : 0;
    EXPECT_EQ(cores, 1);

    // Without the desktop manager its programs do not exist.
    char pattern[] = "/tmp/sim-restart-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string bare = pattern;
    side.desktopManager = false;
    ASSERT_TRUE(sim::InstallWindowsSide(bare, side, error)) << error;
    EXPECT_EQ(sim::StartProgram(bare, side, cases[0].line, "C:\\Windows\\System32", 1, 0x2000, 0).startError,
              sim::kErrorFileNotFound);
    std::filesystem::remove_all(bare);
}

TEST(SimWindowsSide, SettingsComeFromTheDescription) {
    sim::MachineDescription machine = sim::DefaultMachine(2);
    machine.displayDriverInstalled = false;
    sim::IniSection driver{"Display-Driver", {{"driver-files", "1200"}, {"disable-needs-restart", "yes"}}};
    sim::IniSection lumo{"desktop-manager", {{"unkillable", "startup"}, {"import", "no-exit-code"}}};
    sim::IniSection sessions{"sessions", {{"users", "1;2"}}};
    machine.extraSections = {driver, lumo, sessions};
    sim::WindowsSide side;
    std::string error;
    ASSERT_TRUE(sim::ReadWindowsSide(machine, side, error)) << error;
    EXPECT_FALSE(side.driver.vendorDriver);
    EXPECT_EQ(side.driver.driverFiles, 1200u);
    EXPECT_TRUE(side.driver.disableNeedsRestart);
    EXPECT_EQ(side.lumo.unkillable, static_cast<uint32_t>(sim::Unkillable::Startup));
    EXPECT_EQ(side.lumo.import, static_cast<uint32_t>(sim::ImportOutcome::NoExitCode));
    EXPECT_EQ(sim::UserSessions(side.sessions), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(side.devices.size(), machine.pci.size());

    machine.extraSections = {sim::IniSection{"power", {{"ac-min-processor", "101"}}}};
    EXPECT_FALSE(sim::ReadWindowsSide(machine, side, error));
    EXPECT_EQ(error, "[power] bad value of ac-min-processor: 101");
    EXPECT_EQ(side.power.acMinProcessor, 5u);
}

} // namespace
