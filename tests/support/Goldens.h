// The program's fixed texts as the tests expect them, written once for every tier: the banner, the help
// screen, the warning box, the prompt and its erasure, the calibration spinner. Narrow, with plain line
// feeds; WithCrLf gives the form a Windows C runtime writes to a pipe.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The two blank lines of the option parser, the banner line and the two blank lines after it.
extern const char kBanner[];

// The help screen as CCmdLine prints it.
extern const char kHelpScreen[];

// What follows the help screen or the parse errors: the key wait and the blank lines after the key.
extern const char kHelpEnd[];
extern const char kErrorsEnd[];

// The final key wait of every run that is not quiet.
extern const char kPressAnyKey[];

// The listing of the cards: the count line, then per card its PCI location as the listing writes it
// ("0300": bus, device, function) and its FPGA version. When the XSVF stream is played on calibrated lines
// each card's calibration spinner comes right before its line.
std::string CardListing(const std::vector<std::pair<std::string, std::string>>& locationsAndVersions,
                        bool calibrated = false);

// What follows the listing when there is something to write: the update file, the calibration and the
// estimate in minutes (a number, or a choice of the transcript grammar such as "{3|5}").
std::string Announcement(const std::string& file, const std::string& minutes);

// n at the update question of a run that is not quiet: the question erased, the abort, the key wait.
std::string AbortedAtTheQuestion();

// Right after the listing with -n, when taking the display driver off the cards needs a restart.
extern const char kDriverNeedsRestart[];

// The warning before an update; with the blank-displays line unless the flash image is used.
std::string WarningBox(bool displaysGoBlank);

// The y/n prompt and the text that takes it off the screen again.
extern const char kPrompt[];
std::string PromptErasure();

// What the calibration of one card writes to the console: a blank, 256 spinner steps, a backspace.
std::string CalibrationSpinner();

// The log's text of a console text: without the banner's first two line feeds (written before the log is
// opened) and without the calibration spinners, which only the console sees.
std::string Logged(std::string console);

// The same text with every line feed written as CR LF.
std::string WithCrLf(const std::string& text);

// The log file's form of console text: CR LF line ends and every backspace a blank.
std::string LogForm(const std::string& text);

} // namespace testsupport
