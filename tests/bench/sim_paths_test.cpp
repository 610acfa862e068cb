// The simulated machine keeps the program inside its folder: whatever the environment makes of the log path
// (no local application data folder, a relative one, one on the network), the log lands on the machine's
// drive or is not written at all, and nothing appears outside the machine folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "BenchMachine.h"
#include "Goldens.h"

namespace {

const std::string kListed = std::string(testsupport::kBanner) +
                            "   Found 2 Veskora Q740 graphics cards:\n"
                            " PCIe Bus: 0x0300   FPGA version: 1.6.10\n"
                            " PCIe Bus: 0x0400   FPGA version: 1.6.10\n\n";

TEST(SimPaths, TheLogStaysInsideTheMachineWhateverTheEnvironmentSays) {
    struct Case {
        const char* localAppData;
        const char* log; // the machine path the log lands at; empty: no log is written
    };
    const Case cases[] = {
        {"", "C:\\Veskora\\VskQ740FwUpdater\\VskQ740FwUpdater.log"},
        {"\\Users", "C:\\Users\\Veskora\\VskQ740FwUpdater\\VskQ740FwUpdater.log"},
        {"c:\\Users\\..\\..\\..\\..", "C:\\Veskora\\VskQ740FwUpdater\\VskQ740FwUpdater.log"},
        {"logs", ""},
        {"..\\..\\..\\..\\..\\..\\tmp", ""},
        {"\\\\server\\share", ""},
        {"\\\\?\\C:\\Users", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.localAppData);
        BenchMachine machine({"--env", std::string("LOCALAPPDATA=") + c.localAppData});
        const testsupport::TempDir work;
        const auto outside = [&] {
            // What exists outside the machine where the log folders would be.
            return std::filesystem::exists("/Veskora") || std::filesystem::exists(work.Path() + "/logs") ||
                   std::filesystem::exists("/tmp/Veskora") ||
                   std::filesystem::exists(work.Path() + "/Veskora");
        };
        const bool before = outside();
        const ProgramRun run = machine.Run({"-q"}, "", work.Path());
        EXPECT_EQ(run.raw.out, kListed);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(outside(), before);
        EXPECT_TRUE(std::filesystem::is_empty(work.Path()));
        if (*c.log != '\0') {
            const std::string log = testsupport::ReadFileText(machine.HostPath(c.log));
            EXPECT_NE(log.find("Found 2 Veskora Q740 graphics cards"), std::string::npos) << log;
        }
    }
}

} // namespace
