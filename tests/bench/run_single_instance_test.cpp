// One updater at a time: a second one started while the first waits at its question is refused before it
// touches anything of the machine, and the first then updates the cards as if it had been alone.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "BenchMachine.h"
#include "Goldens.h"
#include "RunGoldens.h"
#include "Transcript.h"

namespace {

using namespace bench;
using testsupport::kBanner;
using testsupport::LogForm;

// After the command line's own two line feeds.
const std::string kRefused = "\n\nERROR: Another VskQ740FwUpdater is already running.";

TEST(RunSingleInstance, ASecondUpdaterIsRefusedAndTheFirstGoesOn) {
    BenchMachine machine({"--virtual-clock"});
    struct Second {
        bool ran = false;
        ProgramRun quiet, prompted;
        bool untouched = false;
        std::string changed;
    } second;
    const ProgramRun first = machine.RunFed({"-f", kStream}, [&](const std::string& out, bool& close) {
        if (out.find(testsupport::kPrompt) == std::string::npos)
            return std::string();
        // The first holds the cards (driver off, lines claimed) and waits for its answer.
        if (!second.ran) {
            second.ran = true;
            // The prompt reaches the log just after the console: wait for it there too.
            const std::string logged = testsupport::LogForm(testsupport::kPrompt);
            for (int i = 0; i < 5000; ++i) {
                const std::string log = machine.LogText();
                if (log.size() >= logged.size() &&
                    log.compare(log.size() - logged.size(), logged.size(), logged) == 0)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const auto before = machine.Snapshot();
            second.quiet = machine.Run({"-q", "-f", kStream});
            second.prompted = machine.Run({"-f", kStream}, "y");
            const auto after = machine.Snapshot();
            second.untouched = after == before;
            for (const auto& [path, bytes] : after)
                if (before.count(path) == 0 || before.at(path) != bytes)
                    second.changed += path + " ";
            for (const auto& [path, bytes] : before)
                if (after.count(path) == 0)
                    second.changed += path + "(gone) ";
        }
        close = true;
        return std::string("y");
    });
    ASSERT_TRUE(second.ran) << first.raw.out;
    EXPECT_EQ(second.quiet.raw.out, kRefused);
    EXPECT_EQ(second.quiet.exitCode, 183);
    EXPECT_EQ(second.prompted.raw.out, kRefused + testsupport::kPressAnyKey);
    EXPECT_EQ(second.prompted.exitCode, 183);
    EXPECT_TRUE(second.untouched) << "the refused runs changed " << second.changed;

    ASSERT_FALSE(first.raw.timedOut);
    EXPECT_EQ(first.exitCode, 0);
    // The first updates as if it had been alone; the display driver's return calls for a restart.
    const std::string question =
        UpToTheQuestion(2, kStream) + testsupport::kPrompt + testsupport::PromptErasure();
    const std::string end = "\b \n\nExecution time = {digits} seconds\n";
    EXPECT_TRANSCRIPT(question + kProgramming + "{progress+beep}" + end, first.raw.out);
    // Once the first has ended, the next updater runs: the final pass of the first's update, which shows
    // the stored transcript (the log header with it, the progress and the prompt as they last stood).
    const ProgramRun later = machine.Run({"-q"});
    EXPECT_EQ(later.exitCode, 0);
    const std::string header =
        "\n===================\n{digits}-{digits}-{digits} {digits}:{digits}:{digits}\n"
        "===================\n";
    EXPECT_TRANSCRIPT("\n\n" + header + Logged(UpToTheQuestion(2, kStream)) +
                          "Programming the FPGA:....... 100% \n\nExecution time = {digits} seconds\n",
                      later.raw.out);
}

} // namespace
