// Flash-image updates through the cards' own I2C engines: the exact console transcript and log of each run,
// its exit code, and the firmware every card runs after the next restart (the FPGA configures itself from
// its flash at power-up).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "RunGoldens.h"
#include "Transcript.h"
#include "sim/Fpga.h"
#include "sim/FpgaImage.h"
#include "update/Md5.h"

namespace {

using bench::kProgramming;
using bench::kStream;
using testsupport::kBanner;
using testsupport::LogForm;
using testsupport::WarningBox;

const char kDone[] = "\b \n\nExecution time = {digits} seconds\n";
const char kHint[] = "\nTo avoid this error, run VskQ740FwUpdater with the -x command line parameter.\n";

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

// Every card of the machine new enough for the flash image.
std::vector<std::string> NewCards(int cards, const std::vector<std::string>& more = {}) {
    std::vector<std::string> create = {"--cards", std::to_string(cards), "--virtual-clock", "--no-driver"};
    for (int i = 0; i < cards; ++i)
        create.insert(create.end(), {"--card", std::to_string(i) + ":fpga-version=1.6.13"});
    create.insert(create.end(), more.begin(), more.end());
    return create;
}

std::string Listing(int cards) {
    std::vector<std::pair<std::string, std::string>> listed;
    for (int i = 0; i < cards; ++i)
        listed.push_back({"0" + std::to_string(3 + i) + "00", "1.6.13"});
    return testsupport::CardListing(listed);
}

// Up to the progress display of a flash-image update of `cards` cards with the update file `file`.
std::string UpToProgress(int cards, const std::string& file) {
    return kBanner + Listing(cards) + testsupport::Announcement(file, "3") + WarningBox(false) + kProgramming;
}

TEST(RunFlash, TheImageReachesEveryCardsFlashAndRunsAfterTheRestart) {
    struct Case {
        int cards;
        std::string part; // empty: the machine's default part
    };
    const Case cases[] = {{1, ""},         {2, ""},          {4, ""},          {1, "SST25VF010A"},
                          {1, "M25P10-A"}, {1, "Pm25LV010"}, {1, "Pm25LD020"}, {1, "Pm25LD040"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cards) + " " + c.part);
        std::vector<std::string> more;
        for (int i = 0; !c.part.empty() && i < c.cards; ++i)
            more.insert(more.end(), {"--card", std::to_string(i) + ":flash-part=" + c.part});
        BenchMachine machine(NewCards(c.cards, more));
        const ProgramRun run = machine.Run({"-f", kStream, "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRANSCRIPT(UpToProgress(c.cards, kStream) + "{progress}" + kDone, run.raw.out);
        if (c.cards == 2) {
            std::string console = UpToProgress(c.cards, kStream);
            console.erase(0, 2);
            bench::ExpectLog(machine, LogForm(console) + "{log-progress}" + LogForm(kDone));
        }
        // The FPGA runs what it ran until it configures from the flash.
        EXPECT_EQ(Version(machine, 0), "1.6.13");
        machine.Boot();
        for (int i = 0; i < c.cards; ++i)
            EXPECT_EQ(Version(machine, i), "1.7.2") << "card " << i;
        EXPECT_EQ(machine.Registry().find("Validate"), std::string::npos);
    }
}

// An update file and its flash image in a folder of their own, both with their digest files.
class UpdateFolder {
public:
    explicit UpdateFolder(const std::string& image) : dir_(temp_.Path()) {
        std::ifstream in(kStream, std::ios::binary);
        const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Put("fw.xsvf", stream);
        Put("fw.bit", image);
    }
    std::string Stream() const { return dir_ + "/fw.xsvf"; }

private:
    void Put(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
        std::ofstream(dir_ + "/" + name + ".md5", std::ios::binary)
            << Md5Hex(bytes.data(), bytes.size()) << "  " << name << "\n";
    }
    testsupport::TempDir temp_;
    std::string dir_;
};

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(RunFlash, AnImageThatCannotBeWrittenFailsWithTheHint) {
    struct Case {
        const char* name;
        std::string image;
        std::vector<std::string> more;
        bool untouched; // nothing was ever written to a flash
    };
    const Case cases[] = {
        {"no start marker", std::string(40000, '\x11'), {}, true},
        {"flashes locked against writing",
         Text(sim::MakeFirmwareFile({1, 7, 3}, 9000)),
         {"--card", "0:flash-locked=1", "--card", "1:flash-locked=1"},
         false},
        {"no part the writer knows: none fitted, every byte reads 0xFF",
         Text(sim::MakeFirmwareFile({1, 7, 3}, 9000)),
         {"--card", "0:flash-absent=1", "--card", "1:flash-absent=1"},
         true},
        {"larger than the part",
         Text(sim::MakeFirmwareFile({1, 7, 3}, 0x20100)),
         {"--card", "0:flash-part=Pm25LV010", "--card", "1:flash-part=Pm25LV010"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateFolder folder(c.image);
        BenchMachine machine(NewCards(2, c.more));
        const ProgramRun run = machine.Run({"-f", folder.Stream(), "-q"});
        ASSERT_FALSE(run.raw.timedOut);
        EXPECT_EQ(run.exitCode, 99);
        EXPECT_TRANSCRIPT(UpToProgress(2, folder.Stream()) + "{progress}" +
                              "\b \n\nUpdate failed on device at index 0 with error code 99"
                              "\nUpdate failed on device at index 1 with error code 99" +
                              kHint,
                          run.raw.out);
        if (c.untouched) {
            for (const char* name : {"flash-d0.bin", "flash-d2.bin", "flash-d4.bin"})
                EXPECT_FALSE(std::ifstream(machine.Dir() + "/cards/03-00.0/" + name).good()) << name;
        }
        machine.Boot();
        EXPECT_EQ(Version(machine, 0), "1.6.13");
        EXPECT_EQ(Version(machine, 1), "1.6.13");
    }
}

TEST(RunFlash, MinusXPlaysTheStreamThoughAVerifiedImageLiesBesideIt) {
    BenchMachine machine(NewCards(2));
    const ProgramRun run = machine.Run({"-f", kStream, "-q", "-x"});
    ASSERT_FALSE(run.raw.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    std::string listing = "   Found 2 Veskora Q740 graphics cards:\n";
    for (int i = 0; i < 2; ++i)
        listing += testsupport::CalibrationSpinner() + " PCIe Bus: 0x0" + std::to_string(3 + i) +
                   "00   FPGA version: 1.6.13\n";
    EXPECT_TRANSCRIPT(kBanner + listing + testsupport::Announcement(kStream, "{3|5}") + WarningBox(true) +
                          kProgramming + "{progress+beep}" + kDone,
                      run.raw.out);
    EXPECT_EQ(Version(machine, 0), "1.7.2");
    EXPECT_EQ(Version(machine, 1), "1.7.2");
}

// A run killed while it writes the flashes leaves the FPGAs running what they ran (they configure from
// the flash only at power-up), so the next run finds the cards as before and writes the image whole.
TEST(RunFlash, AnUpdateKilledWhileWritingIsRunAgain) {
    BenchMachine machine(NewCards(2));
    const ProgramRun killed = machine.RunSignalled({"-f", kStream, "-q"}, "%-", SIGKILL);
    ASSERT_FALSE(killed.raw.timedOut);
    // Killed as the progress display runs: everything up to it is whole.
    const size_t progress = killed.raw.out.find(kProgramming);
    ASSERT_NE(progress, std::string::npos) << killed.raw.out;
    EXPECT_TRANSCRIPT(UpToProgress(2, kStream),
                      killed.raw.out.substr(0, progress + std::strlen(kProgramming)));
    EXPECT_EQ(Version(machine, 0), "1.6.13");

    const ProgramRun again = machine.Run({"-f", kStream, "-q"});
    ASSERT_FALSE(again.raw.timedOut);
    EXPECT_TRANSCRIPT(UpToProgress(2, kStream) + "{progress}" + kDone, again.raw.out);
    EXPECT_EQ(again.exitCode, 0);
    machine.Boot();
    EXPECT_EQ(Version(machine, 0), "1.7.2");
    EXPECT_EQ(Version(machine, 1), "1.7.2");
}

// A card's slave that stops answering only after the flashes were written, verified and protected again:
// the check on the card's own engine finds it, fails the run with 45067 and checks no card after it. The
// image is in every flash all the same.
TEST(RunFlash, ACheckThatFailsAfterTheWritesEndsTheRunWith45067) {
    BenchMachine machine(
        NewCards(3, {"--card", "1:i2c-silent-after-update=D4", "--card", "2:i2c-silent-after-update=D2"}));
    const ProgramRun run = machine.Run({"-f", kStream, "-q"});
    ASSERT_FALSE(run.raw.timedOut);
    EXPECT_EQ(run.exitCode, 45067);
    EXPECT_TRANSCRIPT(UpToProgress(3, kStream) + "{progress}" +
                          "\b \n\nUpdate failed on device at index 1 with error code 45067" + kHint,
                      run.raw.out);
    EXPECT_EQ(machine.Registry().find("VskQ740FwUpdater"), std::string::npos) << machine.Registry();
    machine.Boot();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Version(machine, i), "1.7.2") << "card " << i;
}

} // namespace
