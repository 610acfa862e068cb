#include "RunGoldens.h"

#include <gtest/gtest.h>

#include "Goldens.h"
#include "LogHeader.h"
#include "Transcript.h"

namespace bench {

using testsupport::CalibrationSpinner;

const std::string kStream = std::string(VSK_SOURCE_DIR) + "/examples/fw.xsvf";
const char kProgramming[] = "Programming the FPGA:....... 00% ";
const char kUpdated[] = "{progress+beep}\b \n\nExecution time = {digits} seconds\n";
const char kRestartNow[] = "\n\n   For the display driver to be disabled, your system must be restarted.\n"
                           "   Your system and VskQ740FwUpdater will be restarted now.\n";

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

std::string Asked() {
    return std::string(testsupport::kPrompt) + testsupport::PromptErasure();
}

std::string SavedTranscript(const std::string& upToTheQuestion) {
    return "\n===================\n{digits}-{digits}-{digits} "
           "{digits}:{digits}:{digits}\n===================\n" +
           Logged(upToTheQuestion) +
           "Programming the FPGA:....... 100% \n\nExecution time = {digits} seconds\n";
}

std::string FinalPass(const std::string& upToTheQuestion, bool quiet) {
    return "\n\n" + SavedTranscript(upToTheQuestion) +
           (quiet ? "" : "\n\n" + std::string(testsupport::kPressAnyKey) + "\n");
}

std::string TestRunUpTo(int count, const std::string& file) {
    return UpToTheQuestion(2, file, true) + "\nTEST COUNT=" + std::to_string(count) +
           "\nPress SPACE BAR to abort test..." + std::string(32, '\b');
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

void ExpectLog(const std::string& log, const std::string& golden) {
    const size_t header = testsupport::LogHeaderAt(log, 0);
    ASSERT_GT(header, 0u) << log;
    EXPECT_TRANSCRIPT(golden, log.substr(header));
}

} // namespace bench
