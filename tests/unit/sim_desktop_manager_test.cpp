#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sim/DesktopManager.h"
#include "sim/Processes.h"

namespace {

const std::string kFolder = "C:\\Program Files (x86)\\Veskora Graphics\\Lumoview\\";
const uint32_t kProgramPid = 0x2000; // the updater, in session 1

// A machine just started, with these user sessions logged on and the desktop manager in each.
sim::ProcessTable Booted(const sim::DesktopManagerSettings& settings, const std::vector<uint32_t>& sessions) {
    sim::ProcessTable table;
    table.StartSystem(sessions);
    for (const sim::ProcessEntry& p : table.Snapshot(0)) {
        if (p.image == "explorer.exe")
            sim::StartLumoAtLogon(table, settings, kFolder, p.session, p.pid, 0);
    }
    return table;
}

int Count(sim::ProcessTable& table, const char* image, uint64_t now) {
    int n = 0;
    for (const sim::ProcessEntry& p : table.Snapshot(now))
        n += p.image == image ? 1 : 0;
    return n;
}

// The program's closing pass: terminate every core and start-up process, wait 2 seconds, again until a pass
// finds none, at most `limit` passes. Returns the passes taken.
int TerminatePasses(sim::ProcessTable& table, uint64_t& now, int limit) {
    for (int pass = 1; pass <= limit; ++pass) {
        bool found = false;
        for (const sim::ProcessEntry& p : table.Snapshot(now)) {
            if (p.image == sim::kLumoCoreImage || p.image == sim::kLumoStartupImage) {
                found = true;
                table.Terminate(p.pid, 0, now);
            }
        }
        now += 2000;
        if (!found)
            return pass;
    }
    return limit;
}

TEST(SimSessions, ListAsTheSessionEnumerationReportsIt) {
    sim::SessionSettings settings;
    settings.users = "1; 2;2;x";
    std::vector<sim::SessionInfo> sessions;
    ASSERT_TRUE(sim::EnumerateSessions(settings, sessions));
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].id, 0u);
    EXPECT_EQ(sessions[0].station, "Services");
    EXPECT_EQ(sessions[0].state, sim::kWtsDisconnected);
    EXPECT_EQ(sessions[1].station, "Console");
    EXPECT_EQ(sessions[2].id, 2u);
    EXPECT_EQ(sessions[2].station, "RDP-Tcp#0");
    settings.enumerationFails = true;
    EXPECT_FALSE(sim::EnumerateSessions(settings, sessions));
    EXPECT_TRUE(sessions.empty());
}

TEST(SimDesktopManager, EachSessionsCloseEventEndsOnlyThatSessionsCore) {
    sim::DesktopManagerSettings settings;
    settings.closeMs = 300;
    sim::ProcessTable table = Booted(settings, {1, 2});
    EXPECT_EQ(Count(table, sim::kLumoCoreImage, 0), 2);
    EXPECT_EQ(Count(table, sim::kLumoStartupImage, 2), 2);
    EXPECT_TRUE(table.EventExists(1, "Global\\VskLumoCoreCloseEvent_2"));
    // The name without "Global\" is the caller's own session namespace: not the core's event.
    EXPECT_EQ(table.OpenEvent(kProgramPid, 1, "VskLumoCoreCloseEvent_2"), 0u);
    EXPECT_EQ(table.OpenEvent(kProgramPid, 1, "Global\\vsklumocorecloseevent_2"),
              0u); // names keep their case
    EXPECT_EQ(table.OpenEvent(kProgramPid, 1, "Global\\VskLumoCoreCloseEvent_3"), 0u);

    const uint32_t handle = table.OpenEvent(kProgramPid, 1, sim::LumoCloseEventName(2));
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(table.SetEvent(handle, 1000));
    table.CloseHandle(handle, 1000);
    EXPECT_EQ(Count(table, sim::kLumoCoreImage, 1299), 2); // it takes the core its time to close
    std::map<uint32_t, int> coresBySession;
    for (const sim::ProcessEntry& p : table.Snapshot(1300)) {
        if (p.image == sim::kLumoCoreImage)
            ++coresBySession[p.session];
    }
    EXPECT_EQ(coresBySession, (std::map<uint32_t, int>{{1, 1}}));
    // With its last holder gone the event is gone: a second signal finds nothing.
    EXPECT_FALSE(table.EventExists(2, sim::LumoCloseEventName(2)));
    EXPECT_TRUE(table.EventExists(2, sim::LumoCloseEventName(1)));
}

TEST(SimDesktopManager, TerminationPassesWithCoresThatComeBackOrNeverDie) {
    struct Case {
        const char* name;
        bool restarts;
        uint32_t restartMs;
        uint32_t unkillable;
        int passes;     // passes the loop takes (bounded at 10)
        int coresAfter; // cores alive right after the loop
        int coresLater; // cores alive 10 seconds later
        int startupsLater;
    } cases[] = {
        {"plain", false, 0, 0, 2, 0, 0, 0},
        {"core back within the wait", true, 1500, 0, 3, 0, 0, 0},
        {"core back at once", true, 0, 0, 3, 0, 0, 0},
        {"core back during the last wait", true, 2500, 0, 2, 1, 1, 0},
        {"core never dies", false, 0, 1, 10, 1, 1, 0},
        {"start-up never dies", false, 0, 2, 10, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DesktopManagerSettings settings;
        settings.coreRestarts = c.restarts;
        settings.restartMs = c.restartMs;
        settings.unkillable = c.unkillable;
        sim::ProcessTable table = Booted(settings, {1});
        uint64_t now = 5000;
        EXPECT_EQ(TerminatePasses(table, now, 10), c.passes);
        EXPECT_EQ(Count(table, sim::kLumoCoreImage, now), c.coresAfter);
        EXPECT_EQ(Count(table, sim::kLumoCoreImage, now + 10000), c.coresLater);
        EXPECT_EQ(Count(table, sim::kLumoStartupImage, now + 10000), c.startupsLater);
    }
    // A core that came back holds its close event again, and the event ends it.
    sim::DesktopManagerSettings settings;
    settings.coreRestarts = true;
    sim::ProcessTable table = Booted(settings, {1});
    for (const sim::ProcessEntry& p : table.Snapshot(0)) {
        if (p.image == sim::kLumoCoreImage) {
            EXPECT_EQ(table.Terminate(p.pid, 0, 0), sim::TerminateResult::Done);
        }
    }
    EXPECT_FALSE(table.EventExists(1, sim::LumoCloseEventName(1)));
    EXPECT_EQ(Count(table, sim::kLumoCoreImage, 1500), 1);
    const uint32_t handle = table.OpenEvent(kProgramPid, 1, sim::LumoCloseEventName(1));
    ASSERT_TRUE(table.SetEvent(handle, 1500));
    table.CloseHandle(handle, 1500);
    EXPECT_EQ(Count(table, sim::kLumoCoreImage, 2000), 0);
}

TEST(SimDesktopManager, TerminateAnswersAsTerminateProcessDoes) {
    sim::DesktopManagerSettings settings;
    settings.unkillable = 1;
    sim::ProcessTable table = Booted(settings, {1});
    for (const sim::ProcessEntry& p : table.Snapshot(0)) {
        const sim::TerminateResult expected =
            p.image == "explorer.exe" || p.image == "svchost.exe" || p.image == sim::kLumoStartupImage
                ? sim::TerminateResult::Done
                : sim::TerminateResult::AccessDenied;
        EXPECT_EQ(table.Terminate(p.pid, 7, 0), expected) << p.image;
    }
    EXPECT_EQ(table.Terminate(0x7FFC, 0, 0), sim::TerminateResult::NoSuchProcess);
    uint32_t code = 0;
    for (const sim::ProcessEntry& p : table.Snapshot(0))
        EXPECT_FALSE(table.ExitCode(p.pid, code));
}

TEST(SimDesktopManager, ACoreStartedByTheProgramJoinsItsSessionOnce) {
    sim::DesktopManagerSettings settings;
    sim::ProcessTable table = Booted(settings, {1});
    uint64_t now = 0;
    TerminatePasses(table, now, 10);
    const uint32_t first = sim::StartLumoCore(table, settings, kFolder, 1, kProgramPid, now);
    const sim::ProcessEntry* core = table.Find(first);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->path, kFolder + "Veskora.Lumo.Core.exe");
    EXPECT_EQ(core->parentPid, kProgramPid);
    EXPECT_TRUE(table.EventExists(1, "Global\\VskLumoCoreCloseEvent_1"));
    // A second core finds the first and ends at once.
    const uint32_t second = sim::StartLumoCore(table, settings, kFolder, 1, kProgramPid, now);
    EXPECT_EQ(table.Find(second), nullptr);
    uint32_t code = 1;
    EXPECT_TRUE(table.ExitCode(second, code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Count(table, sim::kLumoCoreImage, now), 1);
}

// Another process loads the table with its own clock starting at 0: time passes only as the callers see it.
// A machine whose core comes back 1500 ms after it is terminated, terminated at 90000 ms and saved in a new
// folder under /tmp, which is returned.
std::string SavedWithTheCoreTerminated() {
    char pattern[] = "/tmp/sim-processes-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern), nullptr);
    sim::DesktopManagerSettings settings;
    settings.coreRestarts = true;
    settings.restartMs = 1500;
    sim::ProcessTable table = Booted(settings, {1});
    for (const sim::ProcessEntry& p : table.Snapshot(90000)) {
        if (p.image == sim::kLumoCoreImage)
            table.Terminate(p.pid, 0, 90000);
    }
    EXPECT_EQ(Count(table, sim::kLumoCoreImage, 90500), 0);
    EXPECT_TRUE(table.Save(pattern));
    return pattern;
}

TEST(SimDesktopManager, PendingComebackAndEventsSurviveSaveAndLoad) {
    const std::string dir = SavedWithTheCoreTerminated();
    sim::ProcessTable later;
    ASSERT_TRUE(later.Load(dir));
    EXPECT_EQ(Count(later, sim::kLumoCoreImage, 0), 0);
    EXPECT_EQ(Count(later, sim::kLumoCoreImage, 999), 0);
    EXPECT_EQ(Count(later, sim::kLumoCoreImage, 1000), 1); // 1500 ms after the termination
    EXPECT_TRUE(later.EventExists(1, sim::LumoCloseEventName(1)));
    EXPECT_EQ(Count(later, sim::kLumoStartupImage, 1000), 1);
    std::filesystem::remove_all(dir);
}

// A caller that loads the table for every call (as the program does) keeps the machine's time moving with
// its own clock: the core it terminated comes back when that clock is 1500 ms on. Another caller starts
// from its own first reading.
TEST(SimDesktopManager, TheMachinesTimeMovesOnWithTheSameCallerAcrossLoads) {
    sim::ProcessTable::SetCaller(41);
    const std::string dir = SavedWithTheCoreTerminated();
    const auto coresAt = [&dir](uint64_t callerMs) {
        sim::ProcessTable table;
        EXPECT_TRUE(table.Load(dir));
        const int cores = Count(table, sim::kLumoCoreImage, callerMs);
        EXPECT_TRUE(table.Save(dir));
        return cores;
    };
    EXPECT_EQ(coresAt(91000), 0);
    EXPECT_EQ(coresAt(91499), 0);
    EXPECT_EQ(coresAt(91500), 1);
    sim::ProcessTable::SetCaller(0);
    std::filesystem::remove_all(dir);
}

// The tool's file access, in memory.
class MemoryFiles final : public sim::ToolFiles {
public:
    bool Read(const std::string& path, std::string& bytes) override {
        const auto it = files.find(path);
        if (it == files.end())
            return false;
        bytes = it->second;
        return true;
    }
    bool Write(const std::string& path, const std::string& bytes) override {
        if (path == readOnly)
            return false;
        files[path] = bytes;
        return true;
    }
    std::map<std::string, std::string> files;
    std::string readOnly;
};

const std::string kSettingsFile = "C:\\Users\\user\\AppData\\Local\\Temp\\lvcfg.txt";

TEST(SimLumoCmd, ExportAndImportKeepEveryByte) {
    struct Case {
        sim::StoreContent content;
        const char* mustHold;
    } cases[] = {
        {sim::StoreContent::Text, "Layout=Span 2x1\r\n"},
        {sim::StoreContent::Percent, "%USERPROFILE%"},
        {sim::StoreContent::OddLength, "Tag=odd"},
        {sim::StoreContent::Binary, "Blob="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mustHold);
        sim::DesktopManagerSettings settings;
        settings.content = static_cast<uint32_t>(c.content);
        MemoryFiles files;
        const sim::LumoCmdRun exported = sim::RunLumoCmd(settings, "/export " + kSettingsFile, files);
        EXPECT_EQ(exported.exitCode, 0u);
        EXPECT_EQ(exported.output, "");
        EXPECT_EQ(exported.runMs, settings.exportMs);
        const std::string original = sim::InitialStore(c.content);
        ASSERT_EQ(files.files.at(kSettingsFile), original);
        EXPECT_NE(original.find(c.mustHold), std::string::npos);
        // The user changes the settings; the import brings the exported bytes back.
        files.files[sim::kLumoStorePath] = "changed";
        const sim::LumoCmdRun imported = sim::RunLumoCmd(settings, "/IMPORT " + kSettingsFile, files);
        EXPECT_EQ(imported.exitCode, 0u);
        EXPECT_TRUE(imported.exitCodeReadable);
        EXPECT_EQ(files.files.at(sim::kLumoStorePath), original);
    }
    EXPECT_EQ(sim::InitialStore(sim::StoreContent::OddLength).size() % 2, 1u);
    const std::string binary = sim::InitialStore(sim::StoreContent::Binary);
    EXPECT_NE(binary.find('\0'), std::string::npos);
    EXPECT_EQ(binary.back(), '\0');
}

TEST(SimLumoCmd, FailuresAndTheirExitCodes) {
    const std::string blanks = "C:\\Users\\John Smith\\AppData\\Local\\Temp\\lvcfg.txt";
    struct Case {
        const char* name;
        uint32_t import;
        std::string arguments;
        bool fileThere;
        uint32_t exitCode;
        bool readable;
        const char* storeAfter;
    } cases[] = {
        {"import ok", 0, "/import " + kSettingsFile, true, 0, true, "saved"},
        {"import refused", 1, "/import " + kSettingsFile, true, 3, true, "current"},
        {"import without exit code", 2, "/import " + kSettingsFile, true, 0, false, "saved"},
        {"no file to import", 0, "/import " + kSettingsFile, false, 2, true, "current"},
        {"unquoted path with blanks", 0, "/import " + blanks, true, 0, true, "saved"},
        {"quoted path", 0, "/import \"" + kSettingsFile + "\"", true, 0, true, "saved"},
        {"no file named", 0, "/import", true, 1, true, "current"},
        {"unknown verb", 0, "/merge " + kSettingsFile, true, 1, true, "current"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DesktopManagerSettings settings;
        settings.import = c.import;
        MemoryFiles files;
        files.files[sim::kLumoStorePath] = "current";
        if (c.fileThere) {
            files.files[kSettingsFile] = "saved";
            files.files[blanks] = "saved";
        }
        const sim::LumoCmdRun run = sim::RunLumoCmd(settings, c.arguments, files);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.exitCodeReadable, c.readable);
        EXPECT_EQ(files.files.at(sim::kLumoStorePath), c.storeAfter);
        EXPECT_EQ(run.output.empty(), c.exitCode == 0);
    }
    MemoryFiles files;
    files.readOnly = kSettingsFile;
    const sim::LumoCmdRun run =
        sim::RunLumoCmd(sim::DesktopManagerSettings(), "/export " + kSettingsFile, files);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.output, "LumoCmd: cannot write " + kSettingsFile + "\r\n");
}

} // namespace
