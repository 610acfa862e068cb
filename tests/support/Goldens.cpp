#include "Goldens.h"

namespace testsupport {

const char kBanner[] = "\n\nVeskora Q740 Firmware Update Utility - Version 2.0.3.1\n\n\n";

const char kHelpScreen[] =
    "VskQ740FwUpdater command line options:\n"
    "================================\n"
    "-q, --quiet               Suppresses all prompts\n"
    "-f, --flash <Filename>    Flashes an FPGA firmware file (*.xsvf)\n"
    "-b, --nobeep              Suppresses the audible beep during the update process\n"
    "-x, --xsvf                Force update to be performed by XSVF\n"
    "-n, --noreboot            Prompt user to perform reboot and re-launch of VskQ740FwUpdater\n"
    "\n\n"
    "Sample write (update/flash) command line:\n"
    "=========================================\n"
    "VskQ740FwUpdater -f UpdateFilename.xsvf\n\n";

const char kHelpEnd[] = "\n\nPress any key to exit...\n\n\n";
const char kErrorsEnd[] = "\nFor more information, see the help file [-h].\n\nPress any key to exit...\n\n\n";
const char kPressAnyKey[] = "\n\nPress any key to exit...\n";
const char kPrompt[] = "   Press 'y' to continue, or 'n' to abort.";

std::string CardListing(const std::vector<std::pair<std::string, std::string>>& locationsAndVersions,
                        bool calibrated) {
    const size_t count = locationsAndVersions.size();
    std::string text =
        "   Found " + std::to_string(count) + " Veskora Q740 graphics card" + (count == 1 ? ":\n" : "s:\n");
    for (const auto& [location, version] : locationsAndVersions)
        text += (calibrated ? CalibrationSpinner() : "") + " PCIe Bus: 0x" + location +
                "   FPGA version: " + version + "\n";
    return text;
}

std::string Announcement(const std::string& file, const std::string& minutes) {
    return "\n   XSVF update file: " + file + "\n   Calibration...  Done.\n   Update will take up to " +
           minutes + " minutes.\n";
}

std::string AbortedAtTheQuestion() {
    return std::string(kPrompt) + PromptErasure() + "   Update aborted.\n\n" + kPressAnyKey;
}

const char kDriverNeedsRestart[] =
    "\n\n   For the display driver to be enabled, your system must be restarted.\n";

std::string WarningBox(bool displaysGoBlank) {
    const std::string edge = "   **********************************************************\n";
    const std::string empty = "   *                                                        *\n";
    std::string box =
        "\n\n" + edge + "   *                        WARNING:                        *\n" + empty;
    if (displaysGoBlank)
        box += "   *      ALL DISPLAYS WILL GO BLANK DURING THE UPDATE.     *\n" + empty;
    box += "   *   FOR CHANGES TO TAKE EFFECT, THE SYSTEM MAY RESTART   *\n"
           "   *               AT THE END OF THE UPDATE.                *\n" +
           empty + "   *   BEFORE RESTARTING YOUR SYSTEM, CLOSE ALL PROGRAMS.   *\n" + edge + "\n\n";
    return box;
}

std::string PromptErasure() {
    return std::string(39, '\b') + std::string(39, ' ') + std::string(42, '\b');
}

std::string CalibrationSpinner() {
    std::string text = " ";
    for (int pass = 0; pass < 256; ++pass) {
        text += '\b';
        text += "|/-\\"[pass % 4];
    }
    return text + "\b";
}

std::string Logged(std::string console) {
    console.erase(0, 2);
    const std::string spinner = CalibrationSpinner();
    for (size_t at; (at = console.find(spinner)) != std::string::npos;)
        console.erase(at, spinner.size());
    return console;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string LogForm(const std::string& text) {
    std::string out = WithCrLf(text);
    for (char& c : out) {
        if (c == '\b')
            c = ' ';
    }
    return out;
}

} // namespace testsupport
