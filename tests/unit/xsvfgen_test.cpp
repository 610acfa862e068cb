// The firmware image format and the update-stream generator: which commands a generated stream uses, how
// images are checked, and that the committed examples are exactly what the generator makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "sim/FpgaImage.h"
#include "sim/FpgaStream.h"
#include "update/Md5.h"
#include "update/XsvfPlayer.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Be(const Bytes& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | s.at(at + size_t(i));
    return v;
}

// Walks a stream command by command and counts the commands; false when an operand runs past the end or
// the stream does not end with XCOMPLETE exactly at its last byte.
bool CountCommands(const Bytes& s, std::map<XsvfCommand, int>& counts) {
    size_t at = 0;
    uint32_t sdrBytes = 0, dataMaskBits = 0;
    while (at < s.size()) {
        const auto command = XsvfCommand(s[at++]);
        ++counts[command];
        switch (command) {
        case XsvfCommand::XCOMPLETE:
            return at == s.size();
        case XsvfCommand::XTDOMASK:
        case XsvfCommand::XSDR:
        case XsvfCommand::XSDRB:
        case XsvfCommand::XSDRC:
        case XsvfCommand::XSDRE:
            at += sdrBytes;
            break;
        case XsvfCommand::XSDRTDO:
            at += 2 * sdrBytes;
            break;
        case XsvfCommand::XSETSDRMASKS:
            dataMaskBits = 0;
            for (uint32_t i = 0; i < sdrBytes; ++i)
                dataMaskBits += uint32_t(__builtin_popcount(s.at(at + sdrBytes + i)));
            at += 2 * sdrBytes;
            break;
        case XsvfCommand::XSDRINC: {
            at += sdrBytes;
            const uint32_t count = s.at(at++);
            at += count * ((dataMaskBits + 7) / 8);
            break;
        }
        case XsvfCommand::XSIR:
            at += 1 + (s.at(at) + 7u) / 8;
            break;
        case XsvfCommand::XSIR2:
            at += 2 + (Be(s, at, 2) + 7) / 8;
            break;
        case XsvfCommand::XRUNTEST:
            at += 4;
            break;
        case XsvfCommand::XSDRSIZE:
            sdrBytes = (Be(s, at, 4) + 7) / 8;
            at += 4;
            break;
        case XsvfCommand::XREPEAT:
        case XsvfCommand::XSTATE:
        case XsvfCommand::XENDIR:
        case XsvfCommand::XENDDR:
            at += 1;
            break;
        case XsvfCommand::XCOMMENT:
            while (s.at(at++) != 0) {
            }
            break;
        case XsvfCommand::XWAIT:
            at += 6;
            break;
        default:
            return false;
        }
        if (at > s.size())
            return false;
    }
    return false;
}

TEST(XsvfGen, StreamUsesTheWholeCommandMix) {
    const Bytes file = sim::MakeFirmwareFile({1, 7, 2}, 20000);
    Bytes stream;
    std::string error;
    ASSERT_TRUE(sim::MakeUpdateStream(file.data(), file.size(), {}, stream, error)) << error;
    std::map<XsvfCommand, int> counts;
    ASSERT_TRUE(CountCommands(stream, counts));
    for (XsvfCommand c :
         {XsvfCommand::XSDRSIZE, XsvfCommand::XTDOMASK, XsvfCommand::XSIR, XsvfCommand::XSIR2,
          XsvfCommand::XSDRTDO, XsvfCommand::XSDR, XsvfCommand::XRUNTEST, XsvfCommand::XREPEAT,
          XsvfCommand::XSDRB, XsvfCommand::XSDRC, XsvfCommand::XSDRE, XsvfCommand::XSTATE,
          XsvfCommand::XENDIR, XsvfCommand::XENDDR, XsvfCommand::XCOMMENT, XsvfCommand::XWAIT,
          XsvfCommand::XSDRINC, XsvfCommand::XSETSDRMASKS})
        EXPECT_GT(counts[c], 0) << "command " << int(c);
    EXPECT_EQ(counts[XsvfCommand::XCOMPLETE], 1);
    EXPECT_EQ(stream.front(), uint8_t(XsvfCommand::XCOMMENT));
    // 5000 words: 1024 programmed one by one (one XSDRTDO, then XSDRINC of up to 256 words), 3976 by burst.
    EXPECT_EQ(counts[XsvfCommand::XSDRINC], 4);
}

TEST(XsvfGen, RefusesFilesThatAreNoFirmwareImage) {
    Bytes file = sim::MakeFirmwareFile({1, 7, 2}, 1000);
    file[200] ^= 1; // payload byte
    Bytes stream;
    std::string error;
    EXPECT_FALSE(sim::MakeUpdateStream(file.data(), file.size(), {}, stream, error));
    EXPECT_EQ(error, "not a firmware image: payload checksum mismatch");
    EXPECT_TRUE(stream.empty());
}

TEST(FirmwareImage, ChecksFindTheFaultOfEachDamagedImage) {
    const Bytes good = sim::MakeFirmwareFile({2, 0, 255}, 4096);
    size_t offset = 0;
    ASSERT_TRUE(sim::FindBitstreamMarker(good.data(), good.size(), offset));
    EXPECT_EQ(good.size() - offset, 4096u);
    struct Case {
        size_t at; // in the data, from the marker on
        uint8_t flip;
        sim::ImageCheck check;
    } const cases[] = {
        {0, 0, sim::ImageCheck::Ok},
        {51, 0x01, sim::ImageCheck::NoMarker},
        {52, 0x20, sim::ImageCheck::BadTag},
        {59, 0x02, sim::ImageCheck::BadTag},
        {61, 0x01, sim::ImageCheck::BadLength},
        {64, 0x80, sim::ImageCheck::BadChecksum},
        {4095, 0x10, sim::ImageCheck::BadChecksum},
    };
    for (const Case& c : cases) {
        Bytes data(good.begin() + long(offset), good.end());
        data[c.at] ^= c.flip;
        sim::FirmwareVersion version;
        EXPECT_EQ(sim::CheckConfigData(data.data(), data.size(), version), c.check) << c.at;
        if (c.check == sim::ImageCheck::Ok) {
            EXPECT_EQ(sim::FormatVersion(version), "2.0.255");
        }
    }
    // Padding after the payload is allowed; a cut payload is not.
    Bytes padded(good.begin() + long(offset), good.end());
    padded.insert(padded.end(), 256, 0xFF);
    sim::FirmwareVersion version;
    EXPECT_EQ(sim::CheckConfigData(padded.data(), padded.size(), version), sim::ImageCheck::Ok);
    EXPECT_EQ(sim::CheckConfigData(padded.data(), 4000, version), sim::ImageCheck::BadLength);
}

TEST(FirmwareImage, VersionTexts) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {{"1.7.2", true},   {"0.0.0", true},    {"255.255.255", true}, {"1.7", false},
                 {"1.7.2.", false}, {"256.0.0", false}, {"1..2", false},       {" 1.7.2", false}};
    for (const auto& c : cases) {
        sim::FirmwareVersion v;
        EXPECT_EQ(sim::ParseVersion(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(sim::FormatVersion(v), c.text);
        }
    }
}

std::string ExamplesFolder() {
    return std::string(VSK_SOURCE_DIR) + "/examples/";
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(XsvfGen, CommittedExamplesAreWhatTheGeneratorMakes) {
    const std::string dir = ExamplesFolder();
    const Bytes bit = ReadFile(dir + "fw.bit");
    const Bytes xsvf = ReadFile(dir + "fw.xsvf");
    ASSERT_FALSE(bit.empty());
    sim::FirmwareVersion version;
    size_t offset = 0;
    ASSERT_EQ(sim::CheckBitstreamFile(bit.data(), bit.size(), version, offset), sim::ImageCheck::Ok);
    EXPECT_EQ(sim::FormatVersion(version), "1.7.2"); // newer than the default machine's 1.6.10
    EXPECT_EQ(bit, sim::MakeFirmwareFile(version, bit.size() - offset));
    Bytes stream;
    std::string error;
    ASSERT_TRUE(sim::MakeUpdateStream(bit.data(), bit.size(), {}, stream, error));
    EXPECT_EQ(xsvf, stream);
    const Bytes bitMd5 = ReadFile(dir + "fw.bit.md5"), xsvfMd5 = ReadFile(dir + "fw.xsvf.md5");
    EXPECT_EQ(std::string(bitMd5.begin(), bitMd5.end()), Md5Hex(bit.data(), bit.size()) + "  fw.bit\n");
    EXPECT_EQ(std::string(xsvfMd5.begin(), xsvfMd5.end()), Md5Hex(xsvf.data(), xsvf.size()) + "  fw.xsvf\n");
}

} // namespace
