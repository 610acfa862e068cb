// The texts of whole runs on the default bench machines, shared by the scenario files: the listing, the
// text up to the update question, the log's form of a console text and the log check.
#pragma once

#include <string>

#include "BenchMachine.h"
#include "Goldens.h"

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

// The log of the last run: its header, then the console text without what only the console sees.
void ExpectLog(BenchMachine& machine, const std::string& golden);

} // namespace bench
