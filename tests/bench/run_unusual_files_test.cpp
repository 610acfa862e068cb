// Files that are not regular files (a FIFO with no writer, a device) as the update file, its digest file,
// the flash image or the image's digest file: refused at once as a file that cannot be opened or a digest
// that does not match, never waited on.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "BenchMachine.h"
#include "Goldens.h"
#include "RunGoldens.h"
#include "Transcript.h"
#include "update/Md5.h"

namespace {

using namespace bench;
using testsupport::kBanner;
using testsupport::LogForm;

const std::string kExamples = std::string(VSK_SOURCE_DIR) + "/examples/";

enum class Kind { Regular, Missing, Fifo, Device };

TEST(RunSpecialFiles, NonRegularFilesAreRefusedWithoutBlocking) {
    const std::string stream = testsupport::ReadFileText(kExamples + "fw.xsvf");
    const std::string digest = Md5Hex(stream.data(), stream.size()) + "  fw.xsvf\n";
    struct Case {
        const char* what;
        Kind xsvf, xsvfMd5, bit, bitMd5; // the .bit and its digest are left out when Regular
        std::string out;                 // empty: the update runs to its end
        std::string log;                 // what the log keeps of `out`
        int exitCode;
    };
    // The open error goes to the console alone.
    const std::string unableToOpen =
        std::string(kBanner) + "Error: Unable to open file C:\\fw\\fw.xsvf\n" + Listing(2) + "\n";
    const std::string listedOnly = LogForm(Logged(std::string(kBanner) + Listing(2) + "\n"));
    const std::string corrupt =
        std::string(kBanner) +
        "\nError: C:\\fw\\fw.xsvf is corrupt and cannot be used to update your Veskora Q740 "
        "graphics cards.\n\n" +
        Listing(2) + "\n";
    const Case cases[] = {
        {"no update file", Kind::Missing, Kind::Regular, Kind::Regular, Kind::Regular, unableToOpen,
         listedOnly, 2},
        {"update file is a FIFO", Kind::Fifo, Kind::Regular, Kind::Regular, Kind::Regular, unableToOpen,
         listedOnly, 2},
        {"update file is a device", Kind::Device, Kind::Regular, Kind::Regular, Kind::Regular, unableToOpen,
         listedOnly, 2},
        {"its digest file is a FIFO", Kind::Regular, Kind::Fifo, Kind::Regular, Kind::Regular, corrupt,
         LogForm(Logged(corrupt)), 0},
        {"its digest file is a device", Kind::Regular, Kind::Device, Kind::Regular, Kind::Regular, corrupt,
         LogForm(Logged(corrupt)), 0},
        {"the flash image is a FIFO", Kind::Regular, Kind::Regular, Kind::Fifo, Kind::Regular, "", "", 0},
        {"the image's digest file is a FIFO", Kind::Regular, Kind::Regular, Kind::Regular, Kind::Fifo, "", "",
         0},
    };
    // Without a usable flash image the stream is played on calibrated lines.
    const std::string end = "\b \n\nExecution time = {digits} seconds\n";
    const std::string updated =
        UpToTheQuestion(2, "C:\\fw\\fw.xsvf", true) + kProgramming + "{progress+beep}" + end;
    const std::string updatedLog =
        LogForm(Logged(UpToTheQuestion(2, "C:\\fw\\fw.xsvf", true)) + kProgramming) + "{log-progress}" +
        LogForm(end);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BenchMachine machine({"--virtual-clock", "--no-driver"});
        const std::string dir = machine.HostPath("C:\\fw");
        testsupport::WriteFileText(dir + "/keep", ""); // makes the folder
        const auto place = [&](const std::string& name, Kind kind, const std::string& bytes) {
            const std::string path = dir + "/" + name;
            if (kind == Kind::Regular) {
                testsupport::WriteFileText(path, bytes);
            } else if (kind == Kind::Fifo) {
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            } else if (kind == Kind::Device) {
                ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
            }
        };
        place("fw.xsvf", c.xsvf, stream);
        place("fw.xsvf.md5", c.xsvfMd5, digest);
        if (c.bit != Kind::Regular || c.bitMd5 != Kind::Regular) {
            place("fw.bit", c.bit, "bitstream");
            place("fw.bit.md5", c.bitMd5, Md5Hex("bitstream", 9));
        }
        const ProgramRun run = machine.Run({"-q", "-f", "C:\\fw\\fw.xsvf"});
        ASSERT_FALSE(run.raw.timedOut) << "the run waited on a special file";
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRANSCRIPT(c.out.empty() ? updated : c.out, run.raw.out);
        ExpectLog(machine, c.out.empty() ? updatedLog : c.log);
    }
}

} // namespace
