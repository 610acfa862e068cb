// Whole updates of simulated machines: the exact console transcript and log file of each run, its exit
// code, and the firmware every card runs afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "LogHeader.h"
#include "RunGoldens.h"
#include "Transcript.h"
#include "update/Md5.h"

namespace {

using bench::ExpectLog;
using bench::kProgramming;
using bench::kStream;
using bench::Listing;
using bench::Logged;
using bench::UpToTheQuestion;
using testsupport::CalibrationSpinner;
using testsupport::kBanner;
using testsupport::LogForm;
using testsupport::WarningBox;

const std::string kExamples = std::string(VSK_SOURCE_DIR) + "/examples/";

TEST(RunUpdate, EveryCardGetsTheNewFirmware) {
    for (int cards : {1, 2, 4}) {
        SCOPED_TRACE(cards);
        BenchMachine machine({"--cards", std::to_string(cards), "--virtual-clock"});
        const std::string before = machine.FpgaVersion(0);
        const ProgramRun run = machine.Run({"-f", kStream, "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.exitCode, 0);
        const std::string end = "\b \n\nExecution time = {digits} seconds\n";
        EXPECT_TRANSCRIPT(UpToTheQuestion(cards, kStream) + kProgramming + "{progress+beep}" + end,
                          run.raw.out);
        // The log has the same text with blanks for backspaces; the spinner and the bell are console-only.
        ExpectLog(machine, LogForm(Logged(UpToTheQuestion(cards, kStream)) + kProgramming) +
                               "{log-progress}" + LogForm(end));
        EXPECT_NE(before, "1.7.2");
        for (int i = 0; i < cards; ++i)
            EXPECT_EQ(machine.FpgaVersion(i), "1.7.2") << "card " << i;
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
    EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
    EXPECT_NE(machine.FpgaVersion(1), "1.7.2");
    EXPECT_EQ(machine.FpgaVersion(2), "1.7.2");
}

TEST(RunUpdate, UnmappedCardFailsAloneAndVisibly) {
    BenchMachine machine({"--cards", "2", "--virtual-clock", "--map-fail", "1", "--no-driver"});
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    // The unmapped card is listed without a version and fails at once with a code of its own.
    const std::string golden = UpToTheQuestion(2, kStream, false, 1) + kProgramming + "{progress+beep}" +
                               "\b \n\nUpdate failed on device at index 1 with error code 98\n";
    EXPECT_TRANSCRIPT(golden, run.raw.out);
    EXPECT_EQ(run.exitCode, 98);
    EXPECT_EQ(machine.FpgaVersion(0), "1.7.2");
}

TEST(RunUpdate, AnsweringNoWritesNothing) {
    BenchMachine machine({"--virtual-clock"});
    const std::string before = machine.FpgaVersion(0);
    const ProgramRun run = machine.Run({"-f", kStream}, "xn");
    const std::string answered = std::string(testsupport::kPrompt) + testsupport::PromptErasure() +
                                 "   Update aborted.\n\n" + testsupport::kPressAnyKey;
    EXPECT_TRANSCRIPT(UpToTheQuestion(2, kStream) + answered, run.raw.out);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(machine.FpgaVersion(0), before);
    // The log keeps the prompt and its erasure as blanks.
    ExpectLog(machine, LogForm(Logged(UpToTheQuestion(2, kStream)) + answered));
}

// Damaged streams whose digest matches: every card that did not complete is reported with its code, the
// run waits for every worker to return before it closes a port, a failed card gets no end-of-update pulse
// (its FPGA keeps running what it ran before, rather than loading a half-written store), and the exit code
// is never 0 when a card did not complete. A wrong digest refuses the stream before any card is driven.
TEST(RunUpdate, DamagedStreamsNeverEndInAFalseSuccess) {
    const std::string good = testsupport::ReadFileText(kStream);
    ASSERT_GT(good.size(), 12731u);
    ASSERT_EQ(good.back(), '\0'); // XCOMPLETE
    const std::string withoutComplete = good.substr(0, good.size() - 1);
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
    // XWAIT in Run-Test/Idle for 3,000,000 us: the worker clocks long after its last byte was read.
    const std::string longWait("\x17\x01\x01\x00\x2d\xc6\xc0", 7);
    // A status check retried 32 times with a run-test time, that never matches, and no XCOMPLETE.
    const std::string retried("\x07\x20\x04\x00\x00\x03\xe8\x09\x00\x55", 10);
    struct Case {
        const char* name;
        std::string stream;
        bool rightDigest;
        int code; // every card's result; 0 for a complete update
    };
    const Case cases[] = {
        {"wrong digest", good, false, 0},
        {"the first 227 bytes", good.substr(0, 227), true, 7},
        {"the first 10 bytes", good.substr(0, 10), true, 7},
        {"the single byte 0x01", std::string(1, '\x01'), true, 7},
        {"a third of the stream", good.substr(0, good.size() / 3), true, 7},
        {"the first 12,731 bytes", good.substr(0, 12731), true, 7},
        {"cut inside its last vector", good.substr(0, good.size() - 2), true, 7},
        {"no XCOMPLETE", withoutComplete, true, 7},
        {"a long wait instead of XCOMPLETE", withoutComplete + longWait, true, 7},
        {"an unterminated comment instead of XCOMPLETE", withoutComplete + "\x16no end", true, 7},
        {"a retried status check instead of the last", good.substr(0, good.size() - 4) + retried, true, 3},
        {"garbled", flipped, true, 2},
        {"bytes after XCOMPLETE", good + std::string("\x02\x08", 2), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine({"--cards", "2", "--virtual-clock", "--no-driver"});
        const std::string before = machine.FpgaVersion(0);
        const std::string dir = machine.HostPath("C:\\fw");
        testsupport::WriteFileText(dir + "/bad.xsvf", c.stream);
        const std::string digest =
            c.rightDigest ? Md5Hex(c.stream.data(), c.stream.size()) : Md5Hex("other", 5);
        testsupport::WriteFileText(dir + "/bad.xsvf.md5", digest + "  bad.xsvf\n");
        const ProgramRun run = machine.Run({"-f", "C:\\fw\\bad.xsvf", "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        if (!c.rightDigest) {
            // Without a stream no port is claimed or calibrated; the cards are listed and the run ends.
            EXPECT_TRANSCRIPT(std::string(kBanner) +
                                  "\nError: C:\\fw\\bad.xsvf is corrupt and cannot be used to update your "
                                  "Veskora Q740 graphics cards.\n\n" +
                                  Listing(2) + "\n",
                              run.raw.out);
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_EQ(machine.FpgaVersion(0), before);
            continue;
        }
        std::string end = "\b \n\n";
        if (c.code == 0) {
            end += "Execution time = {digits} seconds\n";
        } else {
            for (int card = 0; card < 2; ++card)
                end += std::string(card ? "\n" : "") + "Update failed on device at index " +
                       std::to_string(card) + " with error code " + std::to_string(c.code);
            end += "\n";
        }
        EXPECT_TRANSCRIPT(UpToTheQuestion(2, "C:\\fw\\bad.xsvf", true) + kProgramming + "{progress+beep}" +
                              end,
                          run.raw.out);
        EXPECT_EQ(run.exitCode, c.code);
        for (int card = 0; card < 2; ++card)
            EXPECT_EQ(machine.FpgaVersion(card), c.code == 0 ? "1.7.2" : before) << "card " << card;
    }
}

} // namespace
