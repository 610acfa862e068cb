// Whole updates of simulated machines: the exact console transcript and log file of each run, its exit
// code, and the firmware every card runs afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
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
using testsupport::kBanner;
using testsupport::LogForm;

TEST(RunUpdate, EveryCardGetsTheNewFirmware) {
    struct Case {
        int cards;
        bool beep; // -b keeps the update silent
    };
    const Case cases[] = {{1, true}, {2, false}, {4, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cards);
        BenchMachine machine({"--cards", std::to_string(c.cards), "--virtual-clock"});
        const std::string before = machine.FpgaVersion(0);
        std::vector<std::string> args = {"-f", kStream, "-q"};
        if (!c.beep)
            args.push_back("-b");
        const ProgramRun run = machine.Run(args);
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.exitCode, 0);
        const std::string end = "\b \n\nExecution time = {digits} seconds\n";
        EXPECT_TRANSCRIPT(UpToTheQuestion(c.cards, kStream) + kProgramming +
                              (c.beep ? "{progress+beep}" : "{progress}") + end,
                          run.raw.out);
        // The log has the same text with blanks for backspaces; the spinner and the bell are console-only.
        ExpectLog(machine, LogForm(Logged(UpToTheQuestion(c.cards, kStream)) + kProgramming) +
                               "{log-progress}" + LogForm(end));
        EXPECT_NE(before, "1.7.2");
        for (int i = 0; i < c.cards; ++i)
            EXPECT_EQ(machine.FpgaVersion(i), "1.7.2") << "card " << i;
    }
}

// Failing cards do not stop the others; each is reported on a line of its own (no "-x" hint after an XSVF
// update) and the last one's code is the exit code. A card whose window could not be mapped is listed
// without a version and fails at once with a code of its own.
TEST(RunUpdate, FailingCardsAreReportedAndTheLastOneGivesTheExitCode) {
    struct Case {
        const char* name;
        int unmapped, verifyFails; // card indexes
        std::string failures;
        int exitCode;
    };
    const Case cases[] = {
        {"a mismatch on verify alone", -1, 1, "Update failed on device at index 1 with error code 2", 2},
        {"unmapped, then a mismatch", 0, 2,
         "Update failed on device at index 0 with error code 98\n"
         "Update failed on device at index 2 with error code 2",
         2},
        {"a mismatch, then unmapped", 2, 0,
         "Update failed on device at index 0 with error code 2\n"
         "Update failed on device at index 2 with error code 98",
         98},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> create = {"--cards", "3", "--virtual-clock", "--no-driver"};
        if (c.unmapped >= 0)
            create.insert(create.end(), {"--map-fail", std::to_string(c.unmapped)});
        BenchMachine machine(create);
        const std::string before = machine.FpgaVersion(c.verifyFails);
        machine.Edit([&](sim::MachineDescription& m) {
            machine.Cards(m)[static_cast<size_t>(c.verifyFails)]->extra.push_back({"fpga-verify-fails", "1"});
        });
        const ProgramRun run = machine.Run({"-f", kStream, "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        const std::string end = "\b \n\n" + c.failures + "\n";
        EXPECT_TRANSCRIPT(UpToTheQuestion(3, kStream, false, c.unmapped) + kProgramming + "{progress+beep}" +
                              end,
                          run.raw.out);
        ExpectLog(machine, LogForm(Logged(UpToTheQuestion(3, kStream, false, c.unmapped)) + kProgramming) +
                               "{log-progress}" + LogForm(end));
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (int card = 0; card < 3; ++card) {
            if (card == c.unmapped)
                continue;
            EXPECT_EQ(machine.FpgaVersion(card), card == c.verifyFails ? before : "1.7.2") << "card " << card;
        }
    }
}

// The registry after a run on a 64-bit machine without a display driver: the service installed, and the
// values of a pending resume (in the 32-bit view) if they are still there.
std::string RegistryAfterARun(bool resumePending) {
    const std::string hklm = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    const std::string wow = hklm + "WOW6432Node\\";
    const std::string version = "Microsoft\\Windows\\CurrentVersion";
    std::string text = hklm.substr(0, hklm.size() - 1) + "\n" + hklm + "Microsoft\n" + hklm +
                       "Microsoft\\Windows\n" + hklm + version + "\n" + hklm + version + "\\RunOnce\n" +
                       wow.substr(0, wow.size() - 1) + "\n" + wow + "Microsoft\n" + wow +
                       "Microsoft\\Windows\n" + wow + version + "\n" + wow + version + "\\RunOnce\n";
    if (resumePending)
        text += "  VskQ740FwUpdater  REG_SZ \"VskQ740FwUpdater.exe -q\"\n";
    text += wow + version + "\\Uninstall\n" + wow + version + "\\Uninstall\\VskVxdSC\n" +
            "  DisplayName  REG_SZ \"Veskora VskVxdSC Services\"\n"
            "  UninstallString  REG_SZ \"C:\\\\Windows\\\\SysWOW64\\\\VskVxdSCUninstall.exe\"\n" +
            wow + "Veskora Graphics\n" + wow + "Veskora Graphics\\VskQ740FwUpdater\n";
    if (resumePending)
        text += "  Config  REG_SZ bytes \"lv=1\"\n";
    return text + "HKEY_LOCAL_MACHINE\\SYSTEM\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\n"
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\n";
}

// A run that reached the update prompt ends a pending resume (its RunOnce entry and the saved desktop
// settings), whatever the answer and the outcome; a run that only lists the cards leaves it.
TEST(RunUpdate, AnUpdateAttemptEndsAPendingResume) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        bool forgotten;
    };
    const Case cases[] = {
        {"a complete update", {"-f", kStream, "-q"}, "", true},
        {"n at the prompt", {"-f", kStream}, "nk", true},
        {"the cards listed only", {"-q"}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine({"--virtual-clock", "--no-driver"});
        ASSERT_EQ(machine
                      .Sim({"reg-set", "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                            "VskQ740FwUpdater", "--sz", "VskQ740FwUpdater.exe -q"})
                      .exitCode,
                  0);
        ASSERT_EQ(machine
                      .Sim({"reg-set", "SOFTWARE\\WOW6432Node\\Veskora Graphics\\VskQ740FwUpdater", "Config",
                            "--bytes", "lv=1"})
                      .exitCode,
                  0);
        const ProgramRun run = machine.Run(c.args, c.input);
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(machine.Registry(), RegistryAfterARun(!c.forgotten));
    }
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
