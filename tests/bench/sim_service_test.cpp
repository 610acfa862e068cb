// The native program on machines made for each scenario of the hardware-access service and the PCI bus:
// no card, cards in bus order among other functions, windows above 4 GB, failed mappings, the service
// install on a fresh machine, an install that cannot complete, missing exports, and the card traces.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "sim/Machine.h"

namespace {

const char kLibrary32[] = "Stand-in image of the 32-bit hardware-access library VskVxdSC.dll\r\n";
const std::string kNoCards = std::string(testsupport::kBanner) + "   No Veskora Q740 graphics cards found.";
const std::string kInitFailed = std::string(testsupport::kBanner) + "ERROR: InitVSKLibrary failed.";
// The 32-bit registry view: WOW6432Node on 64-bit Windows.
std::string UninstallKey(bool os64) {
    return std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\") + (os64 ? "WOW6432Node\\" : "") +
           "Microsoft\\Windows\\CurrentVersion\\Uninstall\\VskVxdSC\n"
           "  DisplayName  REG_SZ \"Veskora VskVxdSC Services\"\n";
}

// The console text of a quiet run that lists cards on these buses, running the default firmware; a card
// whose window could not be mapped has no readable version.
std::string Listed(const std::vector<int>& buses, int unmapped = -1) {
    std::string text = std::string(testsupport::kBanner) + "   Found " + std::to_string(buses.size()) +
                       " Veskora Q740 graphics card" + (buses.size() == 1 ? ":\n" : "s:\n");
    for (int bus : buses) {
        char line[64];
        std::snprintf(line, sizeof line, " PCIe Bus: 0x%02X00   FPGA version: %s\n", bus,
                      bus == unmapped ? "0.0.000" : "1.6.10");
        text += line;
    }
    return text + "\n";
}

bool Exists(const BenchMachine& machine, const std::string& windowsPath) {
    return std::filesystem::exists(machine.HostPath(windowsPath));
}

// Files named vsk*.tmp left in the user's temporary folder.
int TempFiles(const BenchMachine& machine) {
    int count = 0;
    const std::string temp = machine.HostPath("C:\\Users\\user\\AppData\\Local\\Temp");
    for (const auto& entry : std::filesystem::directory_iterator(temp))
        count += entry.path().filename().string().rfind("vsk", 0) == 0;
    return count;
}

TEST(SimService, CardsAreFoundInBusOrderAmongOtherFunctions) {
    struct Case {
        std::vector<std::string> create;
        std::function<void(sim::MachineDescription&)> edit;
        std::string out;
        int exitCode;
    };
    const auto none = [](sim::MachineDescription&) {};
    const Case cases[] = {
        {{"--cards", "0"}, none, kNoCards, 1},
        {{},
         [](sim::MachineDescription& m) {
             // Listed last in the file, first on the bus; a right device with a wrong subsystem; another
             // display adapter.
             sim::PciFunction early = sim::Q740Card(1, 0xFD000000u);
             sim::PciFunction wrong = sim::Q740Card(2, 0xFC000000u);
             wrong.subsystem = 0x4D17E6A3;
             sim::PciFunction display = m.pci[1];
             display.bus = 0x05;
             m.pci.push_back(display);
             m.pci.push_back(wrong);
             m.pci.push_back(early);
         },
         Listed({1, 3, 4}),
         1},
        {{"--high-windows", "--map-fail", "1"}, none, Listed({3, 4}, 4), 1},
        {{"--bar32"}, none, Listed({3, 4}), 1},
        // A service without one of its exports is unusable.
        {{}, [](sim::MachineDescription& m) { m.hwServiceMissing = "pciScanBus"; }, kInitFailed, 1},
        {{}, [](sim::MachineDescription& m) { m.hwServiceMissing = "memWrite"; }, kInitFailed, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.create));
        BenchMachine machine(c.create);
        machine.Edit(c.edit);
        const ProgramRun run = machine.Run({"-q"});
        EXPECT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.raw.out, c.out);
        EXPECT_EQ(run.exitCode, c.exitCode);
    }
}

TEST(SimService, TraceShowsTheFullWindowAddressAndTheCardAccesses) {
    BenchMachine machine({"--high-windows", "--map-fail", "1"});
    machine.Edit([&machine](sim::MachineDescription& m) {
        machine.Cards(m)[0]->tracePath = "C:\\traces\\card0.txt";
        machine.Cards(m)[1]->tracePath = machine.Dir() + "/card1.txt"; // a host path
    });
    // One file for all cards, as well, named by the environment.
    const std::string shared = machine.Dir() + "/all.txt";
    ::setenv("VSK_SIM_TRACE", shared.c_str(), 1);
    const ProgramRun run = machine.Run({"-q"});
    ::unsetenv("VSK_SIM_TRACE");
    EXPECT_EQ(run.raw.out, Listed({3, 4}, 4));
    const std::string all = testsupport::ReadFileText(shared);
    EXPECT_NE(all.find("03:00.0 map 0x0000003FFE800000 0x10000 flags 0x0 -> 0x10000000\n"), std::string::npos)
        << all;
    EXPECT_NE(all.find("04:00.0 map 0x0000003FFE600000 0x10000 flags 0x0 -> 0x00000000\n"), std::string::npos)
        << all;
    const std::string card0 = testsupport::ReadFileText(machine.HostPath("C:\\traces\\card0.txt"));
    const std::string card1 = testsupport::ReadFileText(machine.Dir() + "/card1.txt");
    EXPECT_NE(card0.find("config-read 0x00 0x68281002\n"), std::string::npos) << card0;
    EXPECT_NE(card0.find("config-write 0x04 0x00100002\n"), std::string::npos) << card0;
    EXPECT_NE(card0.find("map 0x0000003FFE800000 0x10000 flags 0x0 -> 0x10000000\n"), std::string::npos)
        << card0;
    EXPECT_NE(card1.find("map 0x0000003FFE600000 0x10000 flags 0x0 -> 0x00000000\n"), std::string::npos)
        << card1;
    EXPECT_EQ(card1.find("\nwrite 0x"), std::string::npos)
        << "a card that is not mapped gets no register access";
}

TEST(SimService, FreshMachineInstallsTheServiceOnceAndLaterRunsOnlyLoadIt) {
    struct Case {
        std::vector<std::string> create;
        std::vector<std::string> files; // in the order the program writes them
        std::string uninstaller;
    } cases[] = {
        {{},
         {"C:\\Windows\\System32\\drivers\\VskVxdSC.sys", "C:\\Windows\\SysWOW64\\VskVxdSC.dll",
          "C:\\Windows\\System32\\VskVxdSC.dll", "C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe"},
         "C:\\\\Windows\\\\SysWOW64\\\\VskVxdSCUninstall.exe"},
        {{"--os32"},
         {"C:\\Windows\\System32\\drivers\\VskVxdSC.sys", "C:\\Windows\\System32\\VskVxdSC.dll",
          "C:\\Windows\\System32\\VskVxdSCUninstall.exe"},
         "C:\\\\Windows\\\\System32\\\\VskVxdSCUninstall.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.create));
        BenchMachine machine(c.create);
        ProgramRun run = machine.Run({"-q"});
        EXPECT_EQ(run.raw.out, Listed({3, 4}));
        for (const std::string& file : c.files)
            EXPECT_TRUE(Exists(machine, file)) << file;
        EXPECT_EQ(testsupport::ReadFileText(machine.HostPath(c.files[1])), kLibrary32);
        EXPECT_EQ(Exists(machine, "C:\\Windows\\SysWOW64\\VskVxdSC.dll"), c.create.empty());
        const std::string registry = machine.Sim({"reg"}).out;
        EXPECT_NE(registry.find(UninstallKey(c.create.empty()) + "  UninstallString  REG_SZ \"" +
                                c.uninstaller + "\"\n"),
                  std::string::npos)
            << registry;

        // The second run finds the library and touches nothing: a changed file and a removed key stay so.
        testsupport::WriteFileText(machine.HostPath(c.files[0]), "changed");
        machine.Sim({"reg-delete", std::string("SOFTWARE\\") + (c.create.empty() ? "WOW6432Node\\" : "") +
                                       "Microsoft\\Windows\\CurrentVersion\\Uninstall\\VskVxdSC"});
        run = machine.Run({"-q"});
        EXPECT_EQ(run.raw.out, Listed({3, 4}));
        EXPECT_EQ(testsupport::ReadFileText(machine.HostPath(c.files[0])), "changed");
        EXPECT_EQ(machine.Sim({"reg"}).out.find("Uninstall\\VskVxdSC"), std::string::npos);
        EXPECT_EQ(TempFiles(machine), 0);
    }
}

// A copy of the library planted beside the program (or in the Windows folder) is never loaded: the
// program loads it from the system folder only, so the bring-up installs it there as on a fresh machine.
TEST(SimService, PlantedLibraryBesideTheProgramIsNeverLoaded) {
    for (const char* planted : {"C:\\Program Files\\Veskora\\VskVxdSC.dll", "C:\\Windows\\VskVxdSC.dll"}) {
        SCOPED_TRACE(planted);
        BenchMachine machine;
        std::filesystem::create_directories(std::filesystem::path(machine.HostPath(planted)).parent_path());
        testsupport::WriteFileText(machine.HostPath(planted), "planted");
        const ProgramRun run = machine.Run({"-q"});
        EXPECT_EQ(run.raw.out, Listed({3, 4}));
        EXPECT_EQ(testsupport::ReadFileText(machine.HostPath("C:\\Windows\\SysWOW64\\VskVxdSC.dll")),
                  kLibrary32);
        EXPECT_NE(machine.Sim({"reg"}).out.find(UninstallKey(true)), std::string::npos);
        EXPECT_EQ(testsupport::ReadFileText(machine.HostPath(planted)), "planted");
    }
}

TEST(SimService, FileInUseIsReplacedAtTheNextRestart) {
    BenchMachine machine;
    machine.Edit(
        [](sim::MachineDescription& m) { m.lockedFiles = "C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe"; });
    const ProgramRun run = machine.Run({"-q"});
    EXPECT_EQ(run.raw.out, Listed({3, 4}));
    EXPECT_FALSE(Exists(machine, "C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe"));
    EXPECT_EQ(TempFiles(machine), 1);
    EXPECT_NE(
        machine.Sim({"reg"}).out.find("PendingFileRenameOperations  REG_MULTI_SZ \"\\\\??\\\\C:\\\\Users"),
        std::string::npos);
    const testsupport::RunResult boot = machine.Sim({"boot"});
    EXPECT_EQ(boot.out, "Restarted: 1 restart-time file operation carried out\n");
    EXPECT_EQ(testsupport::ReadFileText(machine.HostPath("C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe")),
              "Stand-in image of the uninstaller VskVxdSCUninstall.exe\r\n");
    EXPECT_EQ(TempFiles(machine), 0);
    EXPECT_EQ(machine.Sim({"reg"}).out.find("PendingFileRenameOperations"), std::string::npos);
}

TEST(SimService, InstallThatCannotCompleteLeavesNothingBehind) {
    BenchMachine machine;
    machine.Edit([](sim::MachineDescription& m) {
        m.lockedFiles = "c:\\windows\\syswow64\\vskvxdscuninstall.exe"; // compared without case
        m.restartMovesFail = true;
    });
    const ProgramRun run = machine.Run({"-q"});
    EXPECT_EQ(run.raw.out, kInitFailed);
    EXPECT_EQ(run.exitCode, 1);
    for (const char* file :
         {"C:\\Windows\\System32\\drivers\\VskVxdSC.sys", "C:\\Windows\\SysWOW64\\VskVxdSC.dll",
          "C:\\Windows\\System32\\VskVxdSC.dll", "C:\\Windows\\SysWOW64\\VskVxdSCUninstall.exe"})
        EXPECT_FALSE(Exists(machine, file)) << file;
    EXPECT_EQ(TempFiles(machine), 0);
    const std::string registry = machine.Sim({"reg"}).out;
    EXPECT_EQ(registry.find("Uninstall\\VskVxdSC"), std::string::npos) << registry;
    EXPECT_EQ(registry.find("PendingFileRenameOperations"), std::string::npos) << registry;
}

} // namespace
