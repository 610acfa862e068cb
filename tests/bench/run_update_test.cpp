#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "sim/Fpga.h"
#include "update/Md5.h"

namespace {

const std::string kExamples = std::string(VSK_SOURCE_DIR) + "/examples/";
const std::string kStream = kExamples + "fw.xsvf";

std::string Version(BenchMachine& machine, int card) {
    sim::MachineDescription m;
    std::string error;
    if (!sim::LoadMachine(machine.Dir(), m, error))
        return "no machine";
    const std::vector<sim::PciFunction*> cards = machine.Cards(m);
    uint8_t major = 0, minor = 0, build = 0;
    if (card >= static_cast<int>(cards.size()) ||
        !sim::ReadFpgaVersion(machine.Dir(), *cards[card], card, major, minor, build))
        return "unreadable";
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(RunUpdate, EveryCardGetsTheNewFirmware) {
    for (int cards : {1, 2, 4}) {
        SCOPED_TRACE(cards);
        BenchMachine machine({"--cards", std::to_string(cards), "--virtual-clock"});
        const std::string before = Version(machine, 0);
        const ProgramRun run = machine.Run({"-f", kStream, "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.exitCode, 0) << run.raw.out;
        EXPECT_TRUE(Contains(run.raw.out, "   Found " + std::to_string(cards) +
                                              " Veskora Q740 graphics card" + (cards == 1 ? ":\n" : "s:\n")));
        EXPECT_TRUE(Contains(run.raw.out, "   XSVF update file: " + kStream +
                                              "\n   Calibration...  Done.\n"
                                              "   Update will take up to "));
        EXPECT_TRUE(Contains(run.raw.out, "Programming the FPGA:....... 00% "));
        EXPECT_TRUE(Contains(run.raw.out, "100%"));
        EXPECT_TRUE(Contains(run.raw.out, "\b \n\nExecution time = "));
        EXPECT_FALSE(Contains(run.raw.out, "Update failed"));
        EXPECT_NE(before, "1.7.2");
        for (int i = 0; i < cards; ++i)
            EXPECT_EQ(Version(machine, i), "1.7.2") << "card " << i;
    }
}

TEST(RunUpdate, OneFailingCardDoesNotStopTheOthers) {
    BenchMachine machine({"--cards", "3", "--virtual-clock"});
    machine.Edit([&](sim::MachineDescription& m) {
        machine.Cards(m)[1]->extra.push_back({"fpga-verify-fails", "1"});
    });
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    ASSERT_FALSE(run.raw.timedOut);
    const std::string line = "Update failed on device at index 1 with error code ";
    const size_t at = run.raw.out.find(line);
    ASSERT_NE(at, std::string::npos) << run.raw.out;
    const int code = std::stoi(run.raw.out.substr(at + line.size()));
    EXPECT_TRUE(code == 2 || code == 3) << code;
    EXPECT_EQ(run.exitCode, code);
    EXPECT_FALSE(Contains(run.raw.out, "index 0 with"));
    EXPECT_FALSE(Contains(run.raw.out, "Execution time"));
    EXPECT_FALSE(Contains(run.raw.out, "-x command line parameter")); // not after an XSVF update
    EXPECT_EQ(Version(machine, 0), "1.7.2");
    EXPECT_NE(Version(machine, 1), "1.7.2");
    EXPECT_EQ(Version(machine, 2), "1.7.2");
}

TEST(RunUpdate, UnmappedCardFailsAloneAndVisibly) {
    BenchMachine machine({"--cards", "2", "--virtual-clock", "--map-fail", "1"});
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    EXPECT_TRUE(Contains(run.raw.out, " PCIe Bus: 0x0400   FPGA version: 0.0.000\n")) << run.raw.out;
    EXPECT_TRUE(Contains(run.raw.out, "Update failed on device at index 1 with error code 1\n"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Version(machine, 0), "1.7.2");
}

TEST(RunUpdate, AnsweringNoWritesNothing) {
    BenchMachine machine({"--virtual-clock"});
    const std::string before = Version(machine, 0);
    const ProgramRun run = machine.Run({"-f", kStream}, "xn");
    const std::string erase = std::string(39, '\b') + std::string(39, ' ') + std::string(42, '\b');
    EXPECT_TRUE(Contains(run.raw.out, "   Press 'y' to continue, or 'n' to abort." + erase +
                                          "   Update aborted.\n\n\n\nPress any key to exit...\n"))
        << run.raw.out;
    EXPECT_FALSE(Contains(run.raw.out, "Programming the FPGA"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Version(machine, 0), before);
}

TEST(RunUpdate, DamagedStreamsAreRefusedOrFailWithoutHarm) {
    const std::string good = testsupport::ReadFileText(kStream);
    ASSERT_GT(good.size(), 1000u);
    struct Case {
        const char* name;
        std::string stream;
        bool rightDigest;
    };
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
    const Case cases[] = {
        {"wrong digest", good, false},
        {"truncated, right digest", good.substr(0, good.size() / 3), true},
        {"garbled, right digest", flipped, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine({"--cards", "2", "--virtual-clock"});
        const std::string dir = machine.HostPath("C:\\fw");
        testsupport::WriteFileText(dir + "/bad.xsvf", c.stream);
        const std::string digest =
            c.rightDigest ? Md5Hex(c.stream.data(), c.stream.size()) : Md5Hex("other", 5);
        testsupport::WriteFileText(dir + "/bad.xsvf.md5", digest + "  bad.xsvf\n");
        const ProgramRun run = machine.Run({"-f", "C:\\fw\\bad.xsvf", "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        if (!c.rightDigest) {
            EXPECT_TRUE(Contains(run.raw.out,
                                 "\nError: C:\\fw\\bad.xsvf is corrupt and cannot be used to update "
                                 "your Veskora Q740 graphics cards.\n\n"));
            EXPECT_TRUE(Contains(run.raw.out, " PCIe Bus: 0x0300   FPGA version: 0.0.000\n"));
            EXPECT_FALSE(Contains(run.raw.out, "Programming the FPGA"));
            EXPECT_EQ(run.exitCode, 0);
        } else {
            EXPECT_TRUE(Contains(run.raw.out, "Update failed on device at index 0 with error code "));
            EXPECT_TRUE(Contains(run.raw.out, "Update failed on device at index 1 with error code "));
            EXPECT_NE(run.exitCode, 0);
        }
        EXPECT_NE(Version(machine, 0), "1.7.2");
    }
}

} // namespace
