// Whole updates of simulated machines: the exact console transcript and log file of each run, its exit
// code, and the firmware every card runs afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "LogHeader.h"
#include "Transcript.h"
#include "sim/Fpga.h"
#include "update/Md5.h"

namespace {

using testsupport::CalibrationSpinner;
using testsupport::kBanner;
using testsupport::LogForm;
using testsupport::WarningBox;

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
        !sim::ReadFpgaVersion(machine.Dir(), *cards[static_cast<size_t>(card)], card, major, minor, build))
        return "unreadable";
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

// The listing of `cards` cards on buses 0x03, 0x04, ... whose versions cannot be read yet.
std::string Listing(int cards) {
    std::string text =
        "   Found " + std::to_string(cards) + " Veskora Q740 graphics card" + (cards == 1 ? ":\n" : "s:\n");
    for (int i = 0; i < cards; ++i)
        text += " PCIe Bus: 0x0" + std::to_string(3 + i) + "00   FPGA version: 0.0.000\n";
    return text;
}

// Start-up, calibration of every card (the XSVF stream is played, so each card's lines are calibrated),
// the listing and the update's announcement, up to the question.
std::string UpToTheQuestion(int cards, const std::string& file) {
    std::string text = kBanner;
    for (int i = 0; i < cards; ++i)
        text += CalibrationSpinner();
    return text + Listing(cards) + "\n   XSVF update file: " + file +
           "\n   Calibration...  Done.\n   Update will take up to {3|5} minutes.\n" + WarningBox(true);
}

const char kProgramming[] = "Programming the FPGA:....... 00% ";

// The log of one run: its header, then the console text without what only the console sees.
void ExpectLog(BenchMachine& machine, const std::string& golden) {
    const std::string log = machine.LogText();
    const size_t header = testsupport::LogHeaderAt(log, 0);
    ASSERT_GT(header, 0u) << log;
    EXPECT_TRANSCRIPT(golden, log.substr(header));
}

TEST(RunUpdate, EveryCardGetsTheNewFirmware) {
    for (int cards : {1, 2, 4}) {
        SCOPED_TRACE(cards);
        BenchMachine machine({"--cards", std::to_string(cards), "--virtual-clock"});
        const std::string before = Version(machine, 0);
        const ProgramRun run = machine.Run({"-f", kStream, "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.exitCode, 0);
        const std::string end = "\b \n\nExecution time = {digits} seconds\n";
        EXPECT_TRANSCRIPT(UpToTheQuestion(cards, kStream) + kProgramming + "{progress+beep}" + end,
                          run.raw.out);
        // The log has the same text with blanks for backspaces; the spinner and the bell are console-only.
        const std::string console = UpToTheQuestion(cards, kStream);
        const std::string logged = console.substr(2, console.find(CalibrationSpinner()) - 2) +
                                   console.substr(console.find("   Found"));
        ExpectLog(machine, LogForm(logged + kProgramming) + "{log-progress}" + LogForm(end));
        EXPECT_NE(before, "1.7.2");
        for (int i = 0; i < cards; ++i)
            EXPECT_EQ(Version(machine, i), "1.7.2") << "card " << i;
    }
}

TEST(RunUpdate, OneFailingCardDoesNotStopTheOthers) {
    BenchMachine machine({"--cards", "3", "--virtual-clock", "--no-driver"});
    machine.Edit([&](sim::MachineDescription& m) {
        machine.Cards(m)[1]->extra.push_back({"fpga-verify-fails", "1"});
    });
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    ASSERT_FALSE(run.raw.timedOut);
    // A mismatch on verify, reported for that card alone; no "-x" hint after an XSVF update.
    EXPECT_TRANSCRIPT(UpToTheQuestion(3, kStream) + kProgramming + "{progress+beep}" +
                          "\b \n\nUpdate failed on device at index 1 with error code 2\n",
                      run.raw.out);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Version(machine, 0), "1.7.2");
    EXPECT_NE(Version(machine, 1), "1.7.2");
    EXPECT_EQ(Version(machine, 2), "1.7.2");
}

TEST(RunUpdate, UnmappedCardFailsAloneAndVisibly) {
    BenchMachine machine({"--cards", "2", "--virtual-clock", "--map-fail", "1", "--no-driver"});
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    // Only the mapped card is calibrated; the other is listed and fails at once with code 1.
    const std::string golden =
        std::string(kBanner) + CalibrationSpinner() + Listing(2) + "\n   XSVF update file: " + kStream +
        "\n   Calibration...  Done.\n   Update will take up to {3|5} minutes.\n" + WarningBox(true) +
        kProgramming + "{progress+beep}" + "\b \n\nUpdate failed on device at index 1 with error code 1\n";
    EXPECT_TRANSCRIPT(golden, run.raw.out);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Version(machine, 0), "1.7.2");
}

TEST(RunUpdate, AnsweringNoWritesNothing) {
    BenchMachine machine({"--virtual-clock"});
    const std::string before = Version(machine, 0);
    const ProgramRun run = machine.Run({"-f", kStream}, "xn");
    const std::string answered = std::string(testsupport::kPrompt) + testsupport::PromptErasure() +
                                 "   Update aborted.\n\n" + testsupport::kPressAnyKey;
    EXPECT_TRANSCRIPT(UpToTheQuestion(2, kStream) + answered, run.raw.out);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Version(machine, 0), before);
    // The log keeps the prompt and its erasure as blanks.
    const std::string console = UpToTheQuestion(2, kStream);
    ExpectLog(machine, LogForm(console.substr(2, console.find(CalibrationSpinner()) - 2) +
                               console.substr(console.find("   Found")) + answered));
}

TEST(RunUpdate, DamagedStreamsAreRefusedOrFailWithoutHarm) {
    const std::string good = testsupport::ReadFileText(kStream);
    ASSERT_GT(good.size(), 1000u);
    struct Case {
        const char* name;
        std::string stream;
        bool rightDigest;
        std::string tail; // after the progress display
        int exitCode;
    };
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
    const Case cases[] = {
        {"wrong digest", good, false, "", 0},
        {"truncated, right digest", good.substr(0, good.size() / 3), true,
         "Update failed on device at index 0 with error code 7\n"
         "Update failed on device at index 1 with error code 7\n",
         7},
        {"garbled, right digest", flipped, true,
         "Update failed on device at index 0 with error code 2\n"
         "Update failed on device at index 1 with error code 2\n",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine({"--cards", "2", "--virtual-clock", "--no-driver"});
        const std::string dir = machine.HostPath("C:\\fw");
        testsupport::WriteFileText(dir + "/bad.xsvf", c.stream);
        const std::string digest =
            c.rightDigest ? Md5Hex(c.stream.data(), c.stream.size()) : Md5Hex("other", 5);
        testsupport::WriteFileText(dir + "/bad.xsvf.md5", digest + "  bad.xsvf\n");
        const ProgramRun run = machine.Run({"-f", "C:\\fw\\bad.xsvf", "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        if (!c.rightDigest) {
            // Refused before any card is driven: without a stream no port is claimed or calibrated; the
            // cards are listed and the run ends.
            EXPECT_TRANSCRIPT(std::string(kBanner) +
                                  "\nError: C:\\fw\\bad.xsvf is corrupt and cannot be used to update your "
                                  "Veskora Q740 graphics cards.\n\n" +
                                  Listing(2) + "\n",
                              run.raw.out);
            EXPECT_EQ(run.exitCode, c.exitCode);
        } else {
            EXPECT_TRANSCRIPT(UpToTheQuestion(2, "C:\\fw\\bad.xsvf") + kProgramming + "{progress+beep}" +
                                  "\b \n\n" + c.tail,
                              run.raw.out);
            EXPECT_EQ(run.exitCode, c.exitCode);
        }
        EXPECT_NE(Version(machine, 0), "1.7.2");
    }
}

} // namespace
