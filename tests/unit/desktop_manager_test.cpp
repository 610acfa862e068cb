// The desktop manager: close events per session, termination passes that end, quoted commands.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "system/ChildProcesses.h"
#include "system/DesktopManager.h"

namespace {

struct LumoTest : testing::Test {
    LumoTest() {
        platform.fakeEnv.vars[L"programfiles(x86)"] = L"C:\\Program Files (x86)";
        lumo.BuildPaths(L"C:\\Temp\\");
    }
    FakePlatform platform;
    CChildProcesses children{platform.fakeProcesses};
    CDesktopManager lumo{platform, children};
};

TEST_F(LumoTest, CommandsQuoteTheirPaths) {
    EXPECT_EQ(lumo.ExportCommand(),
              L"\"C:\\Program Files (x86)\\Veskora Graphics\\Lumoview\\Veskora.LumoCmd.exe\" "
              L"/export \"C:\\Temp\\lvcfg.txt\"");
    EXPECT_EQ(lumo.ImportCommand(),
              L"\"C:\\Program Files (x86)\\Veskora Graphics\\Lumoview\\Veskora.LumoCmd.exe\" "
              L"/import \"C:\\Temp\\lvcfg.txt\"");
    // 32-bit Windows has no %programfiles(x86)%.
    FakePlatform p32;
    p32.fakeEnv.vars[L"programfiles"] = L"C:\\Program Files";
    CChildProcesses kids(p32.fakeProcesses);
    CDesktopManager lumo32(p32, kids);
    lumo32.BuildPaths(L"C:\\Temp\\");
    EXPECT_EQ(lumo32.CoreProgram(), L"C:\\Program Files\\Veskora Graphics\\Lumoview\\Veskora.Lumo.Core.exe");
}

TEST_F(LumoTest, CloseEventsAreSetWhereTheyExist) {
    platform.fakeProcesses.sessions = {0, 1, 2};
    platform.fakeNamedObjects.events[L"Global\\VskLumoCoreCloseEvent_2"] = 0;
    lumo.SignalLumoCoreClose();
    EXPECT_EQ(platform.fakeNamedObjects.events[L"Global\\VskLumoCoreCloseEvent_2"], 1);
    EXPECT_TRUE(lumo.Closed());

    FakePlatform none;
    CChildProcesses kids(none.fakeProcesses);
    CDesktopManager noEvents(none, kids);
    noEvents.SignalLumoCoreClose();
    EXPECT_FALSE(noEvents.Closed());
}

TEST_F(LumoTest, TerminationEndsAfterAPassThatFindsNoneOrAfterTheLastPass) {
    const struct {
        const char* name;
        std::set<uint32_t> unkillable;
        int passes;
        size_t left;
    } cases[] = {
        {"all end", {}, 2, 0},
        {"one never dies", {12}, CDesktopManager::kMaxTerminatePasses, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        CChildProcesses kids(p.fakeProcesses);
        CDesktopManager m(p, kids);
        p.fakeProcesses.processes = {{8, 1, L"explorer.exe"},
                                     {12, 1, L"Veskora.Lumo.Core.exe"},
                                     {16, 1, L"Veskora.Lumo.Startup.exe"},
                                     {20, 1, L"veskora.lumo.core.exe"}}; // names compare with case
        p.fakeProcesses.unkillable = c.unkillable;
        m.TerminateLumoProcesses();
        EXPECT_EQ(m.LastPasses(), c.passes);
        EXPECT_EQ(p.fakeClock.now, static_cast<uint64_t>(c.passes) * CDesktopManager::kPassPauseMs);
        EXPECT_EQ(p.fakeProcesses.processes.size(), 2 + c.left);
        EXPECT_TRUE(m.Closed());
    }
}

} // namespace
