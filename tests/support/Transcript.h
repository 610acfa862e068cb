// Whole-transcript comparison for the bench and Wine tiers. A golden text is the exact console or log text
// of a run, literal except for a few fields that stand for what depends on timing, each checked against
// its own grammar:
//   {digits}         zero or more decimal digits (a duration; "%.d" prints nothing for 0)
//   {A|B}            one of the literal alternatives (an estimate that follows a measured rate)
//   {progress}       the update's progress display on the console: "\b\b\b\b", the combined percentage
//                    ("%02d%%") and the next spinner character of |/-\, repeated; percentages never fall,
//                    and the first one at 100 or more is the last
//   {progress+beep}  the same with a bell after every fourth "\"
//   {log-progress}   the log file's form of it: four blanks for the backspaces, never a bell
// Any other brace is literal.
#pragma once

#include <string>

namespace testsupport {

// Empty when the text matches the golden form; otherwise where and how it differs, with both sides
// shown around that place, quoted with control characters escaped.
std::string TranscriptMismatch(const std::string& golden, const std::string& actual);

} // namespace testsupport

// For test files, which include GoogleTest themselves.
#define EXPECT_TRANSCRIPT(golden, actual) EXPECT_EQ(testsupport::TranscriptMismatch((golden), (actual)), "")
#define ASSERT_TRANSCRIPT(golden, actual) ASSERT_EQ(testsupport::TranscriptMismatch((golden), (actual)), "")
