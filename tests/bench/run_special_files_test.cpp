// Files that are not regular files (a FIFO with no writer, a device) as the update file, its digest file,
// the flash image or the image's digest file: refused at once as a file that cannot be opened or a digest
// that does not match, never waited on.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "BenchMachine.h"
#include "Goldens.h"
#include "Transcript.h"
#include "update/Md5.h"

namespace {

const std::string kExamples = std::string(VSK_SOURCE_DIR) + "/examples/";

const std::string kListing = "   Found 2 Veskora Q740 graphics cards:\n"
                             " PCIe Bus: 0x0300   FPGA version: 1.6.10\n"
                             " PCIe Bus: 0x0400   FPGA version: 1.6.10\n\n";

enum class Kind { Regular, Fifo, Device };

TEST(RunSpecialFiles, NonRegularFilesAreRefusedWithoutBlocking) {
    const std::string stream = testsupport::ReadFileText(kExamples + "fw.xsvf");
    const std::string digest = Md5Hex(stream.data(), stream.size()) + "  fw.xsvf\n";
    struct Case {
        const char* what;
        Kind xsvf, xsvfMd5, bit, bitMd5; // the .bit and its digest are left out when Regular
        std::string out;                 // empty: the update runs to its end
        int exitCode;
    };
    const std::string unableToOpen =
        std::string(testsupport::kBanner) + "Error: Unable to open file C:\\fw\\fw.xsvf\n" + kListing;
    const std::string corrupt =
        std::string(testsupport::kBanner) +
        "\nError: C:\\fw\\fw.xsvf is corrupt and cannot be used to update your Veskora Q740 "
        "graphics cards.\n\n" +
        kListing;
    const Case cases[] = {
        {"update file is a FIFO", Kind::Fifo, Kind::Regular, Kind::Regular, Kind::Regular, unableToOpen, 2},
        {"update file is a device", Kind::Device, Kind::Regular, Kind::Regular, Kind::Regular, unableToOpen,
         2},
        {"its digest file is a FIFO", Kind::Regular, Kind::Fifo, Kind::Regular, Kind::Regular, corrupt, 0},
        {"its digest file is a device", Kind::Regular, Kind::Device, Kind::Regular, Kind::Regular, corrupt,
         0},
        {"the flash image is a FIFO", Kind::Regular, Kind::Regular, Kind::Fifo, Kind::Regular, "", 0},
        {"the image's digest file is a FIFO", Kind::Regular, Kind::Regular, Kind::Regular, Kind::Fifo, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BenchMachine machine({"--virtual-clock"});
        const std::string dir = machine.HostPath("C:\\fw");
        testsupport::WriteFileText(dir + "/keep", ""); // makes the folder
        const auto place = [&](const std::string& name, Kind kind, const std::string& bytes) {
            const std::string path = dir + "/" + name;
            if (kind == Kind::Regular)
                testsupport::WriteFileText(path, bytes);
            else if (kind == Kind::Fifo)
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            else
                ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
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
        if (!c.out.empty())
            EXPECT_EQ(run.raw.out, c.out);
        else
            EXPECT_NE(run.raw.out.find("Execution time = "), std::string::npos) << run.raw.out;
    }
}

} // namespace
