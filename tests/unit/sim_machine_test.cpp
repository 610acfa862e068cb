#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "sim/Files.h"
#include "sim/Ini.h"
#include "sim/Machine.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"

namespace {

TEST(SimDescription, DefaultMachineRoundTripsAndKeepsUnknownKeys) {
    sim::MachineDescription m = sim::DefaultMachine();
    m.pci[2].extra.emplace_back("fpga-version", "1.6.13");
    m.machineExtra.emplace_back("future-switch", "on");
    m.extraSections.push_back({"trace", {{"file", "trace.txt"}}});
    const std::string text = sim::FormatDescription(m);
    sim::MachineDescription parsed;
    std::string error;
    ASSERT_TRUE(sim::ParseDescription(text, parsed, error)) << error;
    EXPECT_EQ(sim::FormatDescription(parsed), text);
    ASSERT_EQ(parsed.pci.size(), 6u);
    EXPECT_EQ(parsed.pci[2].Location(), "03:00.0");
    EXPECT_EQ(parsed.pci[2].kind, sim::FunctionKind::Q740);
    EXPECT_EQ(parsed.pci[4].Handle(), 0x0400u);
    EXPECT_EQ(parsed.pci[3].deviceId, 0xAAB0u); // the audio function of the same card
}

TEST(SimDescription, HandWrittenFileWithDefaultsAndErrors) {
    const std::string text = "# two functions, out of order\n"
                             "[machine]\nwindows = 6.1\nOS64 = no\nclock = virtual\n"
                             "[pci 7]\nlocation = 21:00.0\nkind = q740\nmap = fail\n"
                             "[pci 1]\nlocation = 00:02.0\n";
    sim::MachineDescription m;
    std::string error;
    ASSERT_TRUE(sim::ParseDescription(text, m, error)) << error;
    EXPECT_EQ(m.windowsMajor, 6u);
    EXPECT_EQ(m.windowsMinor, 1u);
    EXPECT_FALSE(m.os64);
    EXPECT_TRUE(m.virtualClock);
    EXPECT_EQ(m.processorMhz, 3000u);
    ASSERT_EQ(m.pci.size(), 2u);
    EXPECT_EQ(m.pci[0].Location(), "00:02.0"); // bus order
    EXPECT_TRUE(m.pci[1].mapFails);

    struct Bad {
        std::string text;
        const char* error;
    } bad[] = {
        {"[machine]\nmhz = fast\n", "[machine] mhz: bad value \"fast\""},
        {"[pci 0]\nlocation = 3:0\n", "[pci 0] location: bad value \"3:0\""},
        {"[pci 0]\nbar2 = 0x100000000\n", "[pci 0] bar2: bad value \"0x100000000\""},
        {"[pci 0]\nlocation=01:00.0\n[pci 1]\nlocation=01:00.0\n", "two PCI functions at 01:00.0"},
        // Damage: what is left of a file cut short or overwritten is not read as a machine.
        {"[machine]\nnonsense line\n", "damaged: line 2 is neither a [section], a key = value nor a comment"},
        {"[machine]\nwindows = 10.0\n[pci 0\nlocation = 03:00.0\n",
         "damaged: line 3 is neither a [section], a key = value nor a comment"},
        {"[machine]\n= 1\n", "damaged: line 2 is neither a [section], a key = value nor a comment"},
        {std::string("[machine]\nwin\0\0\0", 16), "damaged: a NUL byte at offset 13"},
        {"", "damaged: it describes nothing"},
        {"# only a comment\n\n", "damaged: it describes nothing"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(sim::ParseDescription(b.text, m, error)) << b.text;
        EXPECT_EQ(error, b.error);
    }
}

TEST(SimDescription, RegisterWindowFollowsTheBarLayout) {
    struct Case {
        uint64_t address;
        bool bar0Is64;
        uint32_t bar1, bar2, bar3;
    } cases[] = {
        {0xFE800000, true, 0, 0xFE800004, 0},
        {0x3FFE800000, true, 0, 0xFE800004, 0x3F},
        {0xFE800000, false, 0xFE800000, 0, 0},
    };
    for (const auto& c : cases) {
        sim::PciFunction card = sim::Q740Card(3, c.address, c.bar0Is64);
        EXPECT_EQ(card.bars[1], c.bar1);
        EXPECT_EQ(card.bars[2], c.bar2);
        EXPECT_EQ(card.bars[3], c.bar3);
        EXPECT_EQ(card.RegisterWindow(), c.address);
        card.bars[c.bar0Is64 ? 2 : 1] |= 0xF0; // low 8 bits are never part of the address
        EXPECT_EQ(card.RegisterWindow(), c.address);
    }
    const auto space = sim::Q740Card(3, 0xFE800000).ConfigSpace();
    auto dword = [&space](size_t at) {
        return static_cast<uint32_t>(space[at]) | static_cast<uint32_t>(space[at + 1]) << 8 |
               static_cast<uint32_t>(space[at + 2]) << 16 | static_cast<uint32_t>(space[at + 3]) << 24;
    };
    EXPECT_EQ(dword(0x00), 0x68281002u);
    EXPECT_EQ(dword(0x2C), 0x4D17E6A2u);
    EXPECT_EQ(dword(0x18), 0xFE800004u);
}

// A model's settings read through its table of fields, as a new model of the machine joins.
TEST(SimFields, ATableReadsItsKeysReportsTheFirstBadValueAndKeepsTheRest) {
    struct Settings {
        uint32_t count = 7;
        uint32_t level = 3;
        bool on = false;
        bool fails = false;
        std::string name = "x";
    };
    using S = Settings;
    const std::vector<sim::Field<S>> fields = {
        sim::NumberField<S>("count", &S::count, 4),
        sim::RangeField<S>("level", &S::level, 1, 5),
        sim::BoolField<S>("on", &S::on),
        sim::ChoiceField<S>("mode", &S::fails, "fail", "ok"),
        sim::TextField<S>("name", &S::name),
    };
    struct Case {
        sim::KeyValues entries;
        std::string badKey;  // the first refused key
        std::string written; // the settings written back, "key=value;..."
        sim::KeyValues unknown;
    };
    const Case cases[] = {
        {{}, "", "count=0x0007;level=3;on=0;mode=ok;name=x;", {}},
        {{{"COUNT", "0x10"}, {"On", "yes"}, {"mode", "FAIL"}, {"name", " a b "}},
         "",
         "count=0x0010;level=3;on=1;mode=fail;name= a b ;",
         {}},
        // A bad value keeps its default; the keys after it are read all the same.
        {{{"level", "9"}, {"count", "x"}, {"on", "1"}},
         "level",
         "count=0x0007;level=3;on=1;mode=ok;name=x;",
         {}},
        {{{"mode", "maybe"}, {"later", "1"}},
         "mode",
         "count=0x0007;level=3;on=0;mode=ok;name=x;",
         {{"later", "1"}}},
    };
    for (const Case& c : cases) {
        S settings;
        sim::KeyValues unknown;
        const sim::FieldError bad = sim::ReadFields(fields, c.entries, settings, &unknown);
        EXPECT_EQ(bad.key, c.badKey);
        sim::KeyValues out;
        sim::WriteFields(fields, settings, out);
        std::string written;
        for (const auto& [key, value] : out)
            written += key + "=" + value + ";";
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(unknown, c.unknown);
    }
}

TEST(SimWindowsPaths, DriveMapping) {
    char pattern[] = "/tmp/sim-paths-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ASSERT_TRUE(sim::MakeDirectories(dir + "/C/Users/user/AppData"));
    struct Case {
        std::string windows, host;
    } cases[] = {
        {"C:\\x\\y", dir + "/C/x/y"},
        {"c:\\x", dir + "/C/x"},
        {"D:\\a b\\c.xsvf", dir + "/D/a b/c.xsvf"},
        {"C:", dir + "/C"},
        {"C:\\USERS\\User\\appdata\\new.log", dir + "/C/Users/user/AppData/new.log"},
        {"/tmp/fw\\fw.xsvf", "/tmp/fw/fw.xsvf"},
        {"fw\\fw.xsvf", "fw/fw.xsvf"},
        {"1:\\x", "1:/x"},
        // Rooted without a drive: the system drive, never the host's root.
        {"\\Windows", dir + "/C/Windows"},
        {"\\Veskora\\VskQ740FwUpdater\\VskQ740FwUpdater.log",
         dir + "/C/Veskora/VskQ740FwUpdater/VskQ740FwUpdater.log"},
        // "." and ".." stay on the drive.
        {"C:\\..\\..\\etc\\passwd", dir + "/C/etc/passwd"},
        {"C:\\Users\\..\\..\\..\\x", dir + "/C/x"},
        {"D:\\a\\.\\b\\..\\c", dir + "/D/a/c"},
        {"\\..\\x", dir + "/C/x"},
        {"C:..\\x", dir + "/C/x"},
        // Network and device paths are on no drive of the machine.
        {"\\\\server\\share\\x", ""},
        {"\\\\?\\C:\\x", ""},
        {"\\\\.\\pipe\\x", ""},
        {"/\\server\\x", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sim::MapPath(dir, c.windows), c.host) << c.windows;
    // What may be changed: only what lies inside the machine folder.
    const std::pair<std::string, bool> inside[] = {
        {dir + "/C/x", true},      {dir + "/C", true},          {dir, false},
        {dir + "/../x", false},    {dir + "/C/../../x", false}, {dir + "x/C", false},
        {"/Veskora/x.log", false}, {"fw/fw.xsvf", false},       {"", false},
        {dir + "/./C//y/", true},
    };
    for (const auto& [path, expected] : inside)
        EXPECT_EQ(sim::InsideMachine(dir, path), expected) << path;
    EXPECT_EQ(sim::MapPathForChange(dir, "\\Veskora\\x"), dir + "/C/Veskora/x");
    EXPECT_EQ(sim::MapPathForChange(dir, "/tmp/x"), "");
    EXPECT_EQ(sim::MapPathForChange(dir, "x\\y"), "");
    std::filesystem::remove_all(dir);
}

TEST(SimWindowsPaths, System32RedirectionOfA32BitProgram) {
    struct Case {
        const char *path, *seen;
    } cases[] = {
        {"C:\\Windows\\System32\\drivers\\vsk.sys", "C:\\Windows\\SysWOW64\\drivers\\vsk.sys"},
        {"c:/windows/system32", "C:\\Windows\\SysWOW64"},
        {"C:\\Windows\\System32x\\a.dll", "C:\\Windows\\System32x\\a.dll"},
        {"C:\\Windows\\a.dll", "C:\\Windows\\a.dll"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sim::RedirectSystem32(c.path), c.seen) << c.path;
}

TEST(SimWindowsPaths, CommandLineQuoting) {
    struct Case {
        std::string argument, quoted;
    } cases[] = {
        {"-f", "-f"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"a\"b", "\"a\\\"b\""},
        {"C:\\x y\\", "\"C:\\x y\\\\\""},
        {"C:\\dir\\fw.xsvf", "C:\\dir\\fw.xsvf"},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sim::QuoteArgument(c.argument), c.quoted) << c.argument;
    sim::MachineDescription m;
    EXPECT_EQ(sim::BuildCommandLine(m, {"-f", "my fw.xsvf"}),
              "\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"my fw.xsvf\"");
    m.commandName = "VskQ740FwUpdater";
    EXPECT_EQ(sim::BuildCommandLine(m, {"-f", "fw.xsvf"}), "VskQ740FwUpdater -f fw.xsvf");
}

TEST(SimWindowsPaths, EnvironmentDependsOnBitnessAndOverrides) {
    auto find = [](const sim::KeyValues& env, const std::string& name) -> std::string {
        for (const auto& [key, value] : env)
            if (key == name)
                return value;
        return "<absent>";
    };
    sim::MachineDescription m;
    EXPECT_EQ(find(sim::WindowsEnvironment(m), "ProgramFiles(x86)"), "C:\\Program Files (x86)");
    EXPECT_EQ(find(sim::WindowsEnvironment(m), "TEMP"), "C:\\Users\\user\\AppData\\Local\\Temp");
    m.os64 = false;
    m.env = {{"localappdata", "D:\\Local"}, {"TEMP", ""}, {"EXTRA", "1"}};
    const sim::KeyValues env = sim::WindowsEnvironment(m);
    EXPECT_EQ(find(env, "ProgramFiles(x86)"), "<absent>");
    EXPECT_EQ(find(env, "LOCALAPPDATA"), "D:\\Local");
    EXPECT_EQ(find(env, "TEMP"), "<absent>");
    EXPECT_EQ(find(env, "EXTRA"), "1");
}

TEST(SimMachineFolder, CreateLoadAndRunRecord) {
    char pattern[] = "/tmp/sim-machine-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/m";
    std::string error;
    ASSERT_TRUE(sim::CreateMachine(dir, sim::DefaultMachine(1), error)) << error;
    EXPECT_TRUE(sim::IsDirectory(dir + "/C/Users/user/AppData/Local/Temp"));
    EXPECT_TRUE(sim::IsDirectory(dir + "/C/Program Files/Veskora"));
    sim::MachineDescription m;
    ASSERT_TRUE(sim::LoadMachine(dir, m, error)) << error;
    EXPECT_EQ(m.pci.size(), 4u);
    ASSERT_TRUE(sim::RecordRun(dir, 45067, {{"bring-to-front", "3"}}));
    uint32_t code = 0;
    ASSERT_TRUE(sim::ReadLastExitCode(dir, code));
    EXPECT_EQ(code, 45067u);
    const sim::KeyValues record = sim::ReadRunRecord(dir);
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[1], (std::pair<std::string, std::string>("bring-to-front", "3")));
    std::filesystem::remove_all(pattern);
}

TEST(SimText, ConversionsNeverFailAndUtf16IsRecognised) {
    EXPECT_EQ(sim::FromUtf8("a\xC3\xA9z"), L"a\x00E9z");
    EXPECT_EQ(sim::FromUtf8("\xFF\xC3"), L"\xFFFD\xFFFD");
    EXPECT_EQ(sim::FromUtf8("\xED\xA0\x80"), L"\xFFFD"); // an encoded surrogate
    EXPECT_EQ(sim::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(sim::ToUtf8(L"\x00E9\x20AC"), "\xC3\xA9\xE2\x82\xAC");
    std::wstring text;
    EXPECT_TRUE(sim::DecodeUtf16Le(sim::EncodeUtf16Le(L"C:\\x y", true), text));
    EXPECT_EQ(text, L"C:\\x y");
    EXPECT_FALSE(sim::DecodeUtf16Le("abcd", text)); // plain bytes stay bytes
    EXPECT_FALSE(sim::DecodeUtf16Le("abc", text));
}

} // namespace

namespace {

// What the INI writer makes of nameless sections reads back as the same sections: keys before any header,
// an empty "[]" first, and a "[]" further down whose keys must not join the section above.
TEST(SimIni, NamelessSectionsReadBackAsTheyWere) {
    const char* const texts[] = {"a = 1\n[x]\nb = 2\n", "[]\n[x]\nb = 2\n", "[x]\nb = 2\n[]\nc = 3\n",
                                 "[]\n\n[]\nc = 3\n"};
    for (const char* text : texts) {
        const sim::IniFile first = sim::ParseIni(text);
        const std::string written = sim::FormatIni(first);
        const sim::IniFile again = sim::ParseIni(written);
        ASSERT_EQ(again.sections.size(), first.sections.size()) << text;
        for (size_t i = 0; i < first.sections.size(); ++i) {
            EXPECT_EQ(again.sections[i].name, first.sections[i].name) << text;
            EXPECT_EQ(again.sections[i].entries, first.sections[i].entries) << text;
        }
        EXPECT_EQ(sim::FormatIni(again), written) << text;
    }
}

} // namespace
