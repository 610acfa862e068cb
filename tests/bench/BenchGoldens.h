// The golden texts the bench scenarios share: the default machine's listing, the run up to the update
// question, the log's form of a console text, and the whole-log comparison.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BenchMachine.h"
#include "Goldens.h"
#include "LogHeader.h"
#include "Transcript.h"
#include "sim/Fpga.h"

namespace bench {

using testsupport::CalibrationSpinner;
using testsupport::kBanner;
using testsupport::LogForm;
using testsupport::WarningBox;

// The firmware version a card runs, as the machine keeps it.
inline std::string Version(BenchMachine& machine, int card) {
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

// The listing of `cards` cards on buses 0x03, 0x04, ... running the simulator's default firmware (a card
// whose window could not be mapped shows no version). When the stream is played on calibrated lines each
// card's spinner comes right before its line (not for the card whose window could not be mapped).
inline std::string Listing(int cards, bool calibrated = false, int unmapped = -1) {
    std::string text =
        "   Found " + std::to_string(cards) + " Veskora Q740 graphics card" + (cards == 1 ? ":\n" : "s:\n");
    for (int i = 0; i < cards; ++i) {
        if (calibrated && i != unmapped)
            text += CalibrationSpinner();
        text += " PCIe Bus: 0x0" + std::to_string(3 + i) +
                "00   FPGA version: " + (i == unmapped ? "0.0.000" : "1.6.10") + "\n";
    }
    return text;
}

// Start-up, the listing and the update's announcement, up to the question. Beside fw.xsvf lies a verified
// flash image, so the jobs are made for it (fixed settle count, no calibration) until the versions turn
// the run to the XSVF stream; a stream alone has every card's lines calibrated.
inline std::string UpToTheQuestion(int cards, const std::string& file, bool calibrated = false,
                                   int unmapped = -1) {
    return kBanner + Listing(cards, calibrated, unmapped) + "\n   XSVF update file: " + file +
           "\n   Calibration...  Done.\n   Update will take up to " + (calibrated ? "{3|5}" : "3") +
           " minutes.\n" + WarningBox(true);
}

// The log's text of a console text: without the banner's first two line feeds (written before the log is
// opened) and without the calibration spinners, which only the console sees.
inline std::string Logged(std::string console) {
    console.erase(0, 2);
    const std::string spinner = CalibrationSpinner();
    for (size_t at; (at = console.find(spinner)) != std::string::npos;)
        console.erase(at, spinner.size());
    return console;
}

inline const char kProgramming[] = "Programming the FPGA:....... 00% ";

// The log of one run: its header, then the console text without what only the console sees.
inline void ExpectLog(BenchMachine& machine, const std::string& golden) {
    const std::string log = machine.LogText();
    const size_t header = testsupport::LogHeaderAt(log, 0);
    ASSERT_GT(header, 0u) << log;
    EXPECT_TRANSCRIPT(golden, log.substr(header));
}

} // namespace bench
