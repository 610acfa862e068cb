// The display-driver tool: the marker search, the commands, the disable's two outcomes, the tool held from
// its write to the end of the run, and the capture of what the children wrote.
#include <gtest/gtest.h>

#include <string>

#include "fakes/FakePlatform.h"
#include "system/ChildProcesses.h"
#include "system/DisplayDriver.h"

namespace {

class ToolResources : public plat::Resources {
public:
    bool Find(const std::string& name, std::vector<uint8_t>& data) override {
        found.push_back(name);
        if (missing)
            return false;
        data.assign(name.begin(), name.end());
        return true;
    }
    std::vector<std::string> found;
    bool missing = false;
};

const wchar_t kTool[] = L"C:\\Users\\A B\\Temp\\\\deq740.exe";
const wchar_t kQuery[] =
    L"\"C:\\Users\\A B\\Temp\\\\deq740.exe\" driverfiles \"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2\"";
const wchar_t kDisable[] =
    L"\"C:\\Users\\A B\\Temp\\\\deq740.exe\" disable \"PCI\\VEN_1002&DEV_6828&SUBSYS_4D17E6A2\"";

struct DriverTest : testing::Test {
    DriverTest() { platform.resources = &resources; }
    FakePlatform platform;
    ToolResources resources;
    CChildProcesses children{platform.fakeProcesses};
    int closes = 0;
    CDisplayDriver driver{platform, children, [this] { ++closes; }};
};

TEST(DriverMarker, AnyOfTheThreeTextsAnywhereMeansADriver) {
    const struct {
        std::string listing;
        bool present;
    } cases[] = {
        {"    C:\\Windows\\INF\\oem12.inf\n", true},
        {"Driver files: C:\\Windows\\System32\\DriverStore\\amdkmdag.sys", true},
        {"Name: Microsoft Basic Display Adapter (no location information)", true}, // "ati" in "information"
        {"Name: Microsoft Basic Display Adapter\n  basicdisplay.sys", false},
        {"AMD ATI WINDOWS\\INF\\OEM", false}, // case matters
        {"", false},
        {std::string("no driver\0ati after a NUL", 25), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.listing);
        EXPECT_EQ(HasDriverMarker(c.listing), c.present);
    }
}

TEST_F(DriverTest, TheToolForThisWindowsIsWrittenAndHeldUntilReleased) {
    ASSERT_TRUE(children.CreatePipe());
    driver.ExtractDevCon(kTool, true);
    EXPECT_TRUE(driver.ToolReady());
    EXPECT_EQ(resources.found, std::vector<std::string>{"DEVCON64"});
    EXPECT_EQ(platform.fakeFiles.FileText(kTool), "DEVCON64");
    EXPECT_EQ(platform.fakeFiles.heldFiles, 1);
    driver.ReleaseTool();
    EXPECT_EQ(platform.fakeFiles.heldFiles, 0);

    CDisplayDriver x86(platform, children, {});
    x86.ExtractDevCon(kTool, false);
    EXPECT_EQ(platform.fakeFiles.FileText(kTool), "DEVCON32");

    resources.missing = true;
    CDisplayDriver none(platform, children, {});
    none.ExtractDevCon(kTool, true);
    EXPECT_FALSE(none.ToolReady());
}

TEST_F(DriverTest, QuerySeesEarlierChildrenAndDisableSetsExactlyOneFlag) {
    const struct {
        FakeProcesses::Script disable;
        bool disabled;
        bool needsRestart;
    } cases[] = {
        {{true, {}, true, true, 0}, true, false},
        {{true, {}, true, true, 1}, false, true},  // the tool asks for a restart
        {{true, {}, true, false, 0}, false, true}, // no exit code: 42
        {{false, {}, true, true, 0}, false, true}, // cannot start: 42
    };
    for (const auto& c : cases) {
        FakePlatform p;
        p.resources = &resources;
        CChildProcesses kids(p.fakeProcesses);
        ASSERT_TRUE(kids.CreatePipe());
        int closed = 0;
        CDisplayDriver d(p, kids, [&closed] { ++closed; });
        d.ExtractDevCon(kTool, true);
        p.fakeProcesses.scripts = {{L"\"C:\\Tools\\export.exe\"", {true, {"exported ", "with amd inside"}}},
                                   {kQuery, {true, {"no marker here"}}},
                                   {kDisable, c.disable}};
        kids.RunChildProcess(L"\"C:\\Tools\\export.exe\"", 10000);
        d.QueryDisplayDriver();
        EXPECT_TRUE(d.DriverPresent()); // from the export's output, as the shared pipe holds it
        d.DisableDisplayDriver();
        EXPECT_EQ(d.DriverDisabled(), c.disabled);
        EXPECT_EQ(d.DisableNeedsRestart(), c.needsRestart);
        EXPECT_EQ(closed, 2); // the desktop manager closed before and after
        EXPECT_EQ(p.fakeProcesses.started.back(), kDisable);
        EXPECT_EQ(p.fakeProcesses.waits.back(), plat::kWaitForever);
    }
}

TEST_F(DriverTest, CaptureKeepsTheFirst65535BytesOfEveryChild) {
    ASSERT_TRUE(children.CreatePipe());
    // A listing longer than the pipe holds arrives in pieces while the tool runs.
    FakeProcesses::Script big;
    big.output = {std::string(40000, 'x'), std::string(40000, 'y'), "ati"};
    platform.fakeProcesses.scripts = {{L"big", big}, {L"quiet", {}}};
    EXPECT_EQ(children.RunChildProcess(L"big", 5), 0u);
    EXPECT_EQ(children.Captured().size(), CChildProcesses::kCaptureLimit);
    EXPECT_EQ(children.Captured().find("ati"), std::string::npos);
    EXPECT_EQ(children.RunChildProcess(L"quiet", 5), 0u); // writes nothing and ends
    EXPECT_EQ(children.RunChildProcess(L"unknown", 5), kNoExitCode);
}

TEST(ChildProcesses, NoPipeNoChild) {
    FakePlatform p;
    CChildProcesses kids(p.fakeProcesses);
    p.fakeProcesses.scripts = {{L"tool", {}}};
    EXPECT_EQ(kids.RunChildProcess(L"tool", 5), kNoExitCode);
}

} // namespace
