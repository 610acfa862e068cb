#include "RunGoldens.h"

#include <gtest/gtest.h>

#include "Goldens.h"
#include "LogHeader.h"
#include "Transcript.h"

namespace bench {

using testsupport::CalibrationSpinner;

const std::string kStream = std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf";
const char kProgramming[] = "Programming the FPGA:....... 00% ";

std::string Listing(int cards, bool calibrated, int unmapped) {
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

std::string UpToTheQuestion(int cards, const std::string& file, bool calibrated, int unmapped) {
    return testsupport::kBanner + Listing(cards, calibrated, unmapped) +
           testsupport::Announcement(file, calibrated ? "{3|5}" : "3") + testsupport::WarningBox(true);
}

void ExpectLog(BenchMachine& machine, const std::string& golden) {
    const std::string log = machine.LogText();
    const size_t header = testsupport::LogHeaderAt(log, 0);
    ASSERT_GT(header, 0u) << log;
    EXPECT_TRANSCRIPT(golden, log.substr(header));
}

} // namespace bench
