// The program's fixed texts as the tests expect them, written once for every tier: the banner, the help
// screen, the warning box, the prompt and its erasure, the calibration spinner. Narrow, with plain line
// feeds; WithCrLf gives the form a Windows C runtime writes to a pipe.
#pragma once

#include <string>

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

// The warning before an update; with the blank-displays line unless the flash image is used.
std::string WarningBox(bool displaysGoBlank);

// The y/n prompt and the text that takes it off the screen again.
extern const char kPrompt[];
std::string PromptErasure();

// What the calibration of one card writes to the console: a blank, 256 spinner steps, a backspace.
std::string CalibrationSpinner();

// The same text with every line feed written as CR LF.
std::string WithCrLf(const std::string& text);

// The log file's form of console text: CR LF line ends and every backspace a blank.
std::string LogForm(const std::string& text);

} // namespace testsupport
