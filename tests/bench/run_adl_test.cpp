// The cards reached through the display library while the display driver stays up: the versions read
// through it, the cards matched to their adapters by bus, device and function, the bus test with its speed
// steps, the speeds given on the command line, the estimate, and the final pass's check of the cards an
// update through the library left. A run that would write the flash image through the library is stopped
// at the update question (the update itself: run_restart_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "LogHeader.h"
#include "Transcript.h"

namespace {

using testsupport::kBanner;
using testsupport::LogForm;
using testsupport::WarningBox;

const std::string kStream = std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf";
const char kProgramKey[] = "SOFTWARE\\WOW6432Node\\Veskora Graphics\\VskQ740FwUpdater";

const std::string kAborted = testsupport::AbortedAtTheQuestion();

std::string Announcement(int minutes) {
    return testsupport::Announcement(kStream, std::to_string(minutes));
}

std::string Listing(const std::string& location0, const std::string& version0, const std::string& location1,
                    const std::string& version1) {
    return testsupport::CardListing({{location0, version0}, {location1, version1}});
}

// The log after its header: the console text without the banner's first two line feeds (written before
// the log is opened), in the log's form.
void ExpectLog(BenchMachine& machine, const std::string& console) {
    const std::string log = machine.LogText();
    const size_t header = testsupport::LogHeaderAt(log, 0);
    ASSERT_GT(header, 0u) << log;
    EXPECT_TRANSCRIPT(LogForm(console.substr(2)), log.substr(header));
}

// A display driver that goes only after a restart, and a run that may not restart: a run that takes the
// driver off the cards says so right after the listing and ends with 3, so the transcript shows whether
// the driver was left up.
void DisableNeedsRestart(sim::MachineDescription& m) {
    m.extraSections.push_back({"display-driver", {{"disable-needs-restart", "1"}}});
}
const std::string kDriverStep = testsupport::kDriverNeedsRestart;

// Two cards on one bus and device, functions 0 and 1 (the first card's audio function gives way).
void TwoFunctionsOfOneDevice(sim::MachineDescription& m) {
    std::vector<sim::PciFunction> kept;
    for (const sim::PciFunction& f : m.pci)
        if (f.bus != 3 && f.bus != 4)
            kept.push_back(f);
    sim::PciFunction first = sim::Q740Card(3, 0xFE800000);
    first.extra = {{"fpga-version", "1.6.13"}};
    sim::PciFunction second = sim::Q740Card(3, 0xFE600000);
    second.function = 1;
    second.extra = {{"fpga-version", "2.0.0"}};
    kept.push_back(first);
    kept.push_back(second);
    m.pci = kept;
}

TEST(RunAdl, VersionsMatchBusTestSpeedsAndEstimates) {
    const std::vector<std::string> newCards = {"--card", "0:fpga-version=1.6.13", "--card",
                                               "1:fpga-version=2.0.0"};
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    // How a case ends: the library would carry the image (the estimate, then n at the question, exit 0), or
    // the driver is taken off the cards for their own engines (flash image) or for the XSVF stream (the
    // lines calibrated while listing), which needs the restart the run may not make (exit 3).
    enum class End { Library, Engines, Xsvf };
    struct Case {
        const char* name;
        std::vector<std::string> create;
        bool twoFunctions;
        std::vector<std::string> extraArgs;
        std::vector<std::string> locations, versions;
        End end;
        int minutes;
    };
    const std::vector<std::string> buses = {"0300", "0400"};
    const std::vector<std::string> newVersions = {"1.6.13", "2.0.0"};
    const Case cases[] = {
        {"the driver up: versions through the library, two functions of one device, 2 x 8 x 800 / 800",
         {"--adl-records", "3"},
         true,
         {},
         {"0300", "0301"},
         newVersions,
         End::Library,
         16},
        {"a bus that misreads at 800 through the library: 600, 2 x 8 x 800 / 600",
         with(newCards, {"--card", "1:i2c-misread-khz=700"}),
         false,
         {},
         buses,
         newVersions,
         End::Library,
         21},
        {"a bus that misreads at 400 through the library: the driver goes, the XSVF stream",
         with(newCards, {"--card", "0:i2c-misread-khz=300"}),
         false,
         {},
         buses,
         newVersions,
         End::Xsvf,
         0},
        {"-i2c 50: the library first, no bus test, 2 x 8 x 800 / 50",
         with(newCards, {"--card", "0:i2c-misread-khz=40"}),
         false,
         {"-i2c", "50"},
         buses,
         newVersions,
         End::Library,
         256},
        {"-i2c 600 skips the speed test",
         with(newCards, {"--card", "1:i2c-misread-khz=500"}),
         false,
         {"-i2c", "600"},
         buses,
         newVersions,
         End::Library,
         21},
        {"a card below 1.6.13 read through the library: the XSVF stream",
         {"--card", "0:fpga-version=1.6.13"},
         false,
         {},
         buses,
         {"1.6.13", "1.6.10"},
         End::Xsvf,
         0},
        {"no context with either call: the cards' own engines",
         with(newCards, {"--adl-create-fails", "both"}),
         false,
         {},
         buses,
         newVersions,
         End::Engines,
         0},
        {"the first creation call fails, the second makes the context",
         with(newCards, {"--adl-create-fails", "first"}),
         false,
         {},
         buses,
         newVersions,
         End::Library,
         16},
        {"a required entry point missing: the cards' own engines",
         with(newCards, {"--adl-missing", "ADL2_Display_DDCInfo2_Get"}),
         false,
         {},
         buses,
         newVersions,
         End::Engines,
         0},
        {"an optional entry point missing: the library binds",
         with(newCards, {"--adl-missing", "ADL2_Display_Sharpness_Get"}),
         false,
         {},
         buses,
         newVersions,
         End::Library,
         16},
        {"the library's first 50 calls fail: the settling rounds take them",
         with(newCards, {"--adl-fails", "50"}),
         false,
         {},
         buses,
         newVersions,
         End::Library,
         16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BenchMachine machine(with({"--virtual-clock", "--display-library"}, c.create));
        machine.Edit([&c](sim::MachineDescription& m) {
            if (c.twoFunctions)
                TwoFunctionsOfOneDevice(m);
            DisableNeedsRestart(m);
        });
        std::vector<std::string> args = {"-f", kStream, "-n"};
        if (c.end != End::Library)
            args.push_back("-q");
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        const ProgramRun run = machine.Run(args, "n");
        ASSERT_FALSE(run.raw.timedOut);
        const std::vector<std::pair<std::string, std::string>> cards = {{c.locations[0], c.versions[0]},
                                                                        {c.locations[1], c.versions[1]}};
        const std::string listed = testsupport::CardListing(cards);
        const std::string tail =
            c.end == End::Library ? Announcement(c.minutes) + WarningBox(false) + kAborted : kDriverStep;
        // On the XSVF stream each card's lines are calibrated right before its line.
        const std::string console = testsupport::CardListing(cards, c.end == End::Xsvf);
        EXPECT_TRANSCRIPT(kBanner + console + tail, run.raw.out);
        ExpectLog(machine, kBanner + listed + tail);
        EXPECT_EQ(run.exitCode, c.end == End::Library ? 0 : 3);
    }
}

// A copy of the library beside the program is never loaded: without the library in the system folders
// the driver goes for the cards' own engines, though the copy would have carried the image.
TEST(RunAdl, ACopyBesideTheProgramIsNotLoaded) {
    for (const char* name : {"atiadlxx.dll", "atiadlxy.dll"}) {
        SCOPED_TRACE(name);
        BenchMachine machine(
            {"--virtual-clock", "--card", "0:fpga-version=1.6.13", "--card", "1:fpga-version=2.0.0"});
        machine.Edit(DisableNeedsRestart);
        testsupport::WriteFileText(machine.HostPath(std::string("C:\\Program Files\\Veskora\\") + name),
                                   "planted");
        const ProgramRun run = machine.Run({"-f", kStream, "-q", "-n"});
        const std::string golden = kBanner + Listing("0300", "1.6.13", "0400", "2.0.0") + kDriverStep;
        EXPECT_TRANSCRIPT(golden, run.raw.out);
        ExpectLog(machine, golden);
        EXPECT_EQ(run.exitCode, 3);
    }
}

// The final pass after an update through the library: "Validate" and the adapter indexes, the check at
// 50 kHz, the transcript shown again, and "Restore" run only when every card answers.
TEST(RunAdl, FinalPassChecksTheCardsThroughTheLibrary) {
    // A stored transcript begins with the log header of the run that saved it.
    const char kTranscript[] = "\n===================\n07-12-2026 08:00:00\n===================\n"
                               "   Found 2 Veskora Q740 graphics cards:\n";
    const std::string hint =
        "\nTo avoid this error, run VskQ740FwUpdater with the -x command line parameter.";
    struct Case {
        const char* name;
        std::vector<std::string> create;
        std::string golden;
        int exitCode;
        bool restoreKept;
    };
    const Case cases[] = {
        {"every card answers", {}, "\n\n" + std::string(kTranscript), 0, false},
        {"the second card's 0xD4 does not answer",
         {"--card", "1:i2c-silent=D4"},
         "\n\nUpdate failed on device at index 1 with error code 45067" + std::string(kTranscript) + hint,
         45067,
         true},
        {"the first card's 0xD0 does not answer",
         {"--card", "0:i2c-silent=D0"},
         "\n\nUpdate failed on device at index 0 with error code 45067" + std::string(kTranscript) + hint,
         45067,
         true},
        {"no library: no card can answer",
         {"--no-display-library"},
         "\n\nUpdate failed on device at index 0 with error code 45067" + std::string(kTranscript) + hint,
         45067,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> create = {
            "--virtual-clock", "--card", "0:fpga-version=1.7.2", "--card", "1:fpga-version=1.7.2",
            "--adl-records",   "2"};
        bool library = true;
        for (const std::string& option : c.create) {
            if (option == "--no-display-library")
                library = false;
            else
                create.push_back(option);
        }
        if (library)
            create.push_back("--display-library");
        BenchMachine machine(create);
        const std::string key = kProgramKey;
        ASSERT_EQ(machine.Sim({"reg-set", key, "Log", "--sz", kTranscript}).exitCode, 0);
        ASSERT_EQ(machine.Sim({"reg-set", key, "Validate", "--dword", "2"}).exitCode, 0);
        ASSERT_EQ(machine.Sim({"reg-set", key, "ADLINDEX0", "--dword", "0"}).exitCode, 0);
        ASSERT_EQ(machine.Sim({"reg-set", key, "ADLINDEX1", "--dword", "2"}).exitCode, 0);
        ASSERT_EQ(machine.Sim({"reg-set", key, "Restore", "--sz", "C:\\Windows\\no-such-tool.exe"}).exitCode,
                  0);
        const ProgramRun run = machine.Run({"-q"});
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_TRANSCRIPT(c.golden, run.raw.out);
        // The log has this pass's own lines; the transcript it shows again is in the log already.
        std::string logged = c.golden;
        logged.erase(logged.find(kTranscript), std::string(kTranscript).size());
        ExpectLog(machine, logged);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const std::string registry = machine.Registry();
        EXPECT_EQ(registry.find("Validate"), std::string::npos) << registry;
        EXPECT_EQ(registry.find("  Log "), std::string::npos) << registry;
        EXPECT_EQ(registry.find("Restore") != std::string::npos, c.restoreKept) << registry;
    }
}

} // namespace
