#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "ProcessRunner.h"
#include "sim/Files.h"
#include "sim/Machine.h"

namespace {

// What show prints of a new machine's Windows side: its Q740 device nodes, the power values, the resume
// state.
std::string FreshWindowsSide(const std::string& devices) {
    return "Display devices: " + devices +
           "\nPower: AC minimum processor state 5%, AC display time-out 600 s (in force: 5%, 600 s); "
           "execution state 0x00000000; priority class 0x20; restart not requested\nResume state: clean\n";
}

using testsupport::RunProgram;
using testsupport::RunResult;

RunResult Q740sim(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VSK_Q740SIM};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

// The environment section of `q740sim show` for a machine whose temporary folder is `temp`; 64-bit
// Windows also has the 32-bit program folder.
std::string Environment(const std::string& temp, bool os64) {
    return "Environment:\n"
           "  USERPROFILE=C:\\Users\\user\n"
           "  LOCALAPPDATA=C:\\Users\\user\\AppData\\Local\n"
           "  APPDATA=C:\\Users\\user\\AppData\\Roaming\n"
           "  TEMP=" +
           temp +
           "\n"
           "  TMP=C:\\Users\\user\\AppData\\Local\\Temp\n"
           "  SystemDrive=C:\n"
           "  SystemRoot=C:\\Windows\n"
           "  windir=C:\\Windows\n"
           "  ProgramFiles=C:\\Program Files\n" +
           (os64 ? "  ProgramFiles(x86)=C:\\Program Files (x86)\n" : "");
}

const char kProgramLines[] =
    "  Program: C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\n"
    "  Command line starts with: \"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\"\n"
    "  Display driver: installed; desktop manager: installed; hardware-access service: not installed\n";

TEST(Q740sim, CreateShowAndRegistryOfTheDefaultMachine) {
    testsupport::TempDir temp;
    const std::string dir = temp.Path() + "/m";
    ASSERT_EQ(Q740sim({"create", "--dir", dir}).exitCode, 0);
    const RunResult show = Q740sim({"show", "--dir", dir});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    EXPECT_EQ(
        show.out,
        "Machine: " + dir + "\n  Windows 10.0, 64-bit; processor 3000 MHz; real clock\n" + kProgramLines +
            Environment("C:\\Users\\user\\AppData\\Local\\Temp", true) +
            "PCI functions:\n"
            "  00:00.0  8086:3EC2  subsystem 0x86941028  rev 00  class 060000  other\n"
            "  00:02.0  8086:3E92  subsystem 0x86941028  rev 00  class 030000  display adapter\n"
            "  03:00.0  1002:6828  subsystem 0x4D17E6A2  rev 00  class 030000  Q740 card 0, registers at "
            "0xFE800000 (64-bit BAR), FPGA firmware 1.6.10\n"
            "  03:00.1  1002:AAB0  subsystem 0x4D17E6A2  rev 00  class 040300  other\n"
            "  04:00.0  1002:6828  subsystem 0x4D17E6A2  rev 00  class 030000  Q740 card 1, registers at "
            "0xFE600000 (64-bit BAR), FPGA firmware 1.6.10\n"
            "  04:00.1  1002:AAB0  subsystem 0x4D17E6A2  rev 00  class 040300  other\n" +
            FreshWindowsSide("03:00.0 enabled, 04:00.0 enabled") + "Last run: none recorded\n");

    const std::string key = "SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
    ASSERT_EQ(Q740sim({"reg-set", "--dir", dir, key, "Log", "--sz", "Found 2 cards\n"}).exitCode, 0);
    ASSERT_EQ(Q740sim({"reg-set", key, "Validate", "--dword", "0x2", "--dir", dir}).exitCode, 0);
    ASSERT_EQ(Q740sim({"reg-set", "--dir", dir, key, "Config", "--bytes", "lv=1"}).exitCode, 0);
    const RunResult reg = Q740sim({"reg", "--dir", dir});
    ASSERT_EQ(reg.exitCode, 0);
    EXPECT_EQ(reg.out, "HKEY_LOCAL_MACHINE\\SOFTWARE\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Veskora Graphics\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater\n"
                       "  Config  REG_SZ bytes \"lv=1\"\n"
                       "  Log  REG_SZ \"Found 2 cards\\n\"\n"
                       "  Validate  REG_DWORD 0x00000002 (2)\n"
                       "HKEY_LOCAL_MACHINE\\SYSTEM\n"
                       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\n"
                       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\n");

    ASSERT_EQ(Q740sim({"reg-delete", "--dir", dir, key, "Log"}).exitCode, 0);
    const RunResult missing = Q740sim({"reg-delete", "--dir", dir, key, "Log"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "q740sim: not found: " + key + " Log\n");
    EXPECT_EQ(Q740sim({"reg-delete", "--dir", dir, "SOFTWARE\\Veskora Graphics"}).err,
              "q740sim: the key has subkeys: SOFTWARE\\Veskora Graphics\n");
}

TEST(Q740sim, CreateFromADescriptionWithOverrides) {
    testsupport::TempDir temp;
    const std::string dir = temp.Path() + "/m";
    testsupport::WriteFileText(temp.Path() + "/one.ini", "[machine]\nmhz = 2400\n"
                                                         "[pci 0]\nlocation = 21:00.0\nkind = q740\n"
                                                         "vendor = 0x1002\ndevice = 0x6828\n"
                                                         "subsystem = 0x4D17E6A2\nbar0 = 0x00000000\n"
                                                         "bar1 = 0xD0000080\nmap = fail\nfpga = 1.6.13\n");
    const RunResult create = Q740sim({"create", "--dir", dir, "--from", temp.Path() + "/one.ini", "--windows",
                                      "6.1", "--os32", "--virtual-clock", "--env", "TEMP=D:\\t"});
    ASSERT_EQ(create.exitCode, 0) << create.err;
    const RunResult show = Q740sim({"show", "--dir", dir});
    EXPECT_EQ(show.out, "Machine: " + dir + "\n  Windows 6.1, 32-bit; processor 2400 MHz; virtual clock\n" +
                            kProgramLines + Environment("D:\\t", false) +
                            "PCI functions:\n"
                            "  21:00.0  1002:6828  subsystem 0x4D17E6A2  rev 00  class 000000  Q740 card 0, "
                            "registers at 0xD0000000 (32-bit BAR), mapping fails, FPGA firmware 1.6.10\n" +
                            FreshWindowsSide("21:00.0 enabled") + "Last run: none recorded\n");
    EXPECT_TRUE(sim::IsDirectory(dir + "/D/t"));
    // The key later models read is kept in the machine's description.
    sim::MachineDescription m;
    std::string error;
    ASSERT_TRUE(sim::LoadMachine(dir, m, error)) << error;
    ASSERT_EQ(m.pci.size(), 1u);
    EXPECT_EQ(m.pci[0].extra, (sim::KeyValues{{"fpga", "1.6.13"}}));
}

// Every key of the [machine] section that has a create option: the option sets exactly that key.
TEST(Q740sim, CreateOptionsSetTheirKeys) {
    struct Case {
        std::vector<std::string> options;
        std::string key, value;
    } cases[] = {
        {{"--windows", "6.0"}, "windows", "6.0"},
        {{"--os32"}, "os64", "0"},
        {{"--mhz", " 1800"}, "mhz", "1800"},
        {{"--program", "D:\\u.exe"}, "program", "D:\\u.exe"},
        {{"--command-name", "VskQ740FwUpdater"}, "command-name", "VskQ740FwUpdater"},
        {{"--virtual-clock"}, "clock", "virtual"},
        {{"--no-driver"}, "display-driver", "0"},
        {{"--no-desktop-manager"}, "desktop-manager", "0"},
        {{"--service-installed"}, "hw-service", "1"},
        {{"--service-missing", "memRead", "--service-missing", "memWrite"},
         "hw-service-missing",
         "memRead;memWrite"},
        {{"--locked-file", "C:\\a", "--locked-file", "C:\\b"}, "locked-files", "C:\\a;C:\\b"},
        {{"--restart-moves-fail"}, "restart-moves", "fail"},
    };
    const std::string defaults = sim::FormatDescription(sim::DefaultMachine());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        testsupport::TempDir temp;
        const std::string dir = temp.Path() + "/m";
        std::vector<std::string> args{"create", "--dir", dir};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(Q740sim(args).exitCode, 0);
        std::string text;
        ASSERT_TRUE(sim::ReadFile(sim::DescriptionPath(dir), text));
        // The default description with that one line changed.
        std::string expected = defaults;
        const size_t line = expected.find("\n" + c.key + " = ") + 1;
        const size_t end = expected.find('\n', line);
        expected.replace(line, end - line, c.key + " = " + c.value);
        EXPECT_EQ(text, expected);
    }
}

TEST(Q740sim, BadUseSaysWhyAndFails) {
    testsupport::TempDir temp;
    const std::string dir = temp.Path() + "/m";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string firstLine;
    } cases[] = {
        {{}, 2, "q740sim: no command"},
        {{"boil", "--dir", dir}, 2, "q740sim: unknown command boil"},
        {{"create", "--dir", dir, "--cards"}, 2, "q740sim: create: bad or incomplete option --cards"},
        {{"create", "--dir", dir, "--windows", "ten"}, 2, "q740sim: create: --windows: bad value ten"},
        {{"show", "--dir", dir}, 1, "q740sim: cannot read " + dir + "/machine.ini"},
        {{"reg-set", "--dir", dir, "K", "N", "--dword", "x"}, 2, "q740sim: reg-set: bad number x"},
        {{"show", "--dir"}, 2, "q740sim: --dir wants a folder"},
    };
    for (const auto& c : cases) {
        const RunResult r = Q740sim(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.firstLine;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.firstLine);
    }
    ASSERT_EQ(Q740sim({"create", "--dir", dir, "--cards", "1"}).exitCode, 0);
    const RunResult again = Q740sim({"create", "--dir", dir});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err,
              "q740sim: a machine already exists in " + dir + " (--force replaces its description)\n");
    EXPECT_EQ(Q740sim({"create", "--dir", dir, "--force", "--cards", "3"}).exitCode, 0);
    const std::string shown = Q740sim({"show", "--dir", dir}).out;
    EXPECT_NE(shown.find("\n  05:00.0  1002:6828  subsystem 0x4D17E6A2  rev 00  class 030000  Q740 card 2, "),
              std::string::npos)
        << shown;
}

TEST(Q740sim, TheProgramMakesTheDefaultMachineAndRecordsItsFullExitCode) {
    testsupport::TempDir temp;
    const std::string dir = temp.Path() + "/fresh";
    testsupport::RunOptions options;
    options.env = {{"VSK_SIM_MACHINE", dir}};
    const RunResult run = RunProgram({VSK_PROGRAM, "-h"}, options);
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(sim::MachineExists(dir));
    uint32_t code = 0;
    ASSERT_TRUE(sim::ReadLastExitCode(dir, code));
    EXPECT_EQ(static_cast<int>(code & 0xFF), run.exitCode);
}

} // namespace

namespace {

// A damaged description stops the program (exit 125, the reason on stderr) instead of showing a machine
// made of what was left of it; a bad FPGA key is named by `q740sim show`.
TEST(Q740sim, DamagedDescriptionsStopTheProgramWithTheReason) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> damage;
        std::string reason; // after "simulated machine: DIR/machine.ini: "
    };
    const Case cases[] = {
        {"cut short in a header", [](const std::string& t) { return t.substr(0, t.find("[pci 1]") + 4); },
         "damaged: line {n} is neither a [section], a key = value nor a comment"},
        {"zeros written over the end",
         [](const std::string& t) { return t.substr(0, t.size() / 2) + std::string(64, '\0'); },
         "damaged: a NUL byte at offset {n}"},
        {"emptied", [](const std::string&) { return std::string(); }, "damaged: it describes nothing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir temp;
        const std::string dir = temp.Path() + "/m";
        ASSERT_EQ(Q740sim({"create", "--dir", dir}).exitCode, 0);
        const std::string ini = dir + "/machine.ini";
        const std::string damaged = c.damage(testsupport::ReadFileText(ini));
        testsupport::WriteFileText(ini, damaged);
        std::string reason = c.reason;
        const size_t n = reason.find("{n}");
        if (n != std::string::npos) {
            const size_t nul = damaged.find('\0');
            const size_t line = static_cast<size_t>(std::count(damaged.begin(), damaged.end(), '\n')) + 1;
            reason.replace(n, 3, std::to_string(nul != std::string::npos ? nul : line));
        }
        testsupport::RunOptions options;
        options.env = {{"VSK_SIM_MACHINE", dir}};
        const RunResult run = RunProgram({VSK_PROGRAM, "-q"}, options);
        EXPECT_EQ(run.exitCode, 125);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "simulated machine: " + ini + ": " + reason + "\n");
        const RunResult shown = Q740sim({"show", "--dir", dir});
        EXPECT_EQ(shown.exitCode, 1);
        EXPECT_EQ(shown.err, "q740sim: " + ini + ": " + reason + "\n");
    }
}

TEST(Q740sim, ShowNamesTheKeyThatMakesAVersionUnreadable) {
    testsupport::TempDir temp;
    const std::string dir = temp.Path() + "/m";
    ASSERT_EQ(Q740sim({"create", "--dir", dir, "--cards", "1"}).exitCode, 0);
    const std::string ini = dir + "/machine.ini";
    std::string text = testsupport::ReadFileText(ini);
    const size_t at = text.find("kind = q740\n");
    ASSERT_NE(at, std::string::npos);
    text.insert(text.find('\n', at) + 1, "fpga-version = 1.7\n");
    testsupport::WriteFileText(ini, text);
    const RunResult shown = Q740sim({"show", "--dir", dir});
    EXPECT_NE(shown.out.find(", FPGA firmware unreadable ([pci] 03:00.0: bad value of fpga-version)\n"),
              std::string::npos)
        << shown.out << shown.err;
}

} // namespace
