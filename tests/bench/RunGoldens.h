// The texts of whole runs on the default machines, shared by the bench scenario files and the Wine tests:
// the listing, the text up to the update question, the update's end, the restart and final-pass texts, the
// log's form of a console text and the log check.
#pragma once

#include <string>

#include "Goldens.h"

class BenchMachine;

namespace bench {

// examples/fw.xsvf, beside which lies a verified flash image.
extern const std::string kStream;

// The listing of `cards` cards on buses 0x03, 0x04, ... running the simulator's default firmware (a card
// whose window could not be mapped shows no version). When the stream is played on calibrated lines each
// card's spinner comes right before its line (not for the card whose window could not be mapped).
std::string Listing(int cards, bool calibrated = false, int unmapped = -1);

// Start-up, the listing and the update's announcement, up to the question. Beside fw.xsvf lies a verified
// flash image, so the jobs are made for it (fixed settle count, no calibration) until the versions turn
// the run to the XSVF stream; a stream alone has every card's lines calibrated.
std::string UpToTheQuestion(int cards, const std::string& file, bool calibrated = false, int unmapped = -1);

// The progress line as it starts.
extern const char kProgramming[];

using testsupport::Logged;

// The end of an update: the progress display to its end, then the time it took.
extern const char kUpdated[];

// The announcement of a disable that needs a restart.
extern const char kRestartNow[];

// The update question and its erasure.
std::string Asked();

// The transcript of a run that updated two cards, given its text up to the question, as the final pass
// shows it again: the log header and the text as it stood on the screen (no spinner, no question: its
// erasure took it off; the progress display at its end).
std::string SavedTranscript(const std::string& upToTheQuestion);

// What a final pass prints: the option parser's two line feeds, then the saved transcript (and the key
// wait unless quiet).
std::string FinalPass(const std::string& upToTheQuestion, bool quiet);

// One run of the repeated-update test up to its programming line: the test's count and its 5-second poll,
// taken off the screen by 32 backspaces.
std::string TestRunUpTo(int count, const std::string& file);

// A text with every `from` replaced by `to` (a card's listed version).
std::string Replaced(std::string text, const std::string& from, const std::string& to);

// The last run's part of a log: its header, then the console text without what only the console sees.
void ExpectLog(const std::string& log, const std::string& golden);
// The same for the log of the machine's last run (defined with BenchMachine).
void ExpectLog(BenchMachine& machine, const std::string& golden);

} // namespace bench
