#include "update/DigestFile.h"
#include "update/Md5.h"
#include "update/UpdateFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "fakes/FakeFileSystem.h"

namespace {

const char kDigest[] = "0123456789abcdef0123456789abcdef";

TEST(DigestFile, ExpectedDigestFromText) {
    const std::string d = kDigest;
    const struct {
        const char* what;
        std::string text;
        std::string expected;
    } cases[] = {
        {"digest only, LF", d + "\n", d},
        {"digest only, CR LF", d + "\r\n", d},
        {"no final line end", d, d},
        {"two spaces and a name", d + "  fw.xsvf\r\n", d},
        {"one space and a name", d + " *fw.xsvf\n", d},
        {"comment lines first", "// made by the build\r\n/x\n" + d + "  fw.xsvf\r\n", d},
        {"a lone slash is a comment", "/\n" + d + "\n", d},
        {"only the first digest line counts", d + "\nffffffffffffffffffffffffffffffff\n", d},
        {"a tab does not end the digest", d + "\tfw.xsvf\n", d + "\tfw.xsvf"},
        {"uppercase is kept", "0123456789ABCDEF0123456789ABCDEF\n", "0123456789ABCDEF0123456789ABCDEF"},
        {"empty first line", "\n" + d + "\n", ""},
        {"CR LF first line", "\r\n" + d + "\n", ""},
        {"leading space", " " + d + "\n", ""},
        {"a lone CR stays in the line", d + "\r", d + "\r"},
        {"CR inside a line", "ab\rcd\r\n", "ab\rcd"},
        {"empty file", "", ""},
        {"only comments", "/a\r\n/b", ""},
        {"comment without line end", "/" + d, ""},
        {"NUL is an ordinary byte", std::string("ab\0cd\n", 6), std::string("ab\0cd", 5)},
        {"binary junk", std::string("\xff\xfe\x00\x80 zz", 7), std::string("\xff\xfe\x00\x80", 4)},
    };
    for (const auto& c : cases) {
        // A copy of exactly the text's size, so that ASan catches any read past its end.
        std::vector<uint8_t> bytes(c.text.begin(), c.text.end());
        EXPECT_EQ(c.expected, ExpectedDigestFromBytes(bytes.data(), bytes.size())) << c.what;
    }
    EXPECT_EQ("", ExpectedDigestFromBytes(nullptr, 0));
}

TEST(UpdateFiles, DerivedNames) {
    const struct {
        const char* update;
        const char* image;
    } cases[] = {
        {"fw.xsvf", "fw.bit"},
        {"update.xsvf", "update.bit"},
        {"fwxsvf", "f.bit"}, // the last five characters, whatever they are
        {"fw_xsvf", "fw.bit"},
        {"C:\\fw\\q740.xsvf", "C:\\fw\\q740.bit"},
        {"a.xsvf", "a.bit"},
        {".xsvf", ".bit"},
        {"fw.XSVF", "fw.bit"},
        {"xsvf", ""}, // no fifth character from the end: no flash image
        {"a", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.image, FlashImageName(c.update)) << c.update;
    }
    EXPECT_EQ("update.xsvf.md5", DigestFileName("update.xsvf"));
    EXPECT_EQ("update.bit.md5", DigestFileName(FlashImageName("update.xsvf")));
}

std::string DigestLine(const std::string& content) {
    return Md5Hex(content.data(), content.size()) + "  x\r\n";
}

std::string UpperDigestLine(const std::string& content) {
    std::string line = DigestLine(content);
    for (char& ch : line)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return line;
}

TEST(UpdateFiles, FlashImageCheck) {
    const std::string image = "image bytes";
    const struct {
        const char* what;
        bool hasImage;
        std::string digestFile; // "-" for no digest file
        bool openFails, readFails;
        bool found, verified;
    } cases[] = {
        {"matching digest", true, DigestLine(image), false, false, true, true},
        {"no image", false, DigestLine(image), false, false, false, false},
        {"image cannot be opened", true, DigestLine(image), true, false, false, false},
        {"image cannot be read", true, DigestLine(image), false, true, true, false},
        {"no digest file", true, "-", false, false, true, false},
        {"empty digest file", true, "", false, false, true, false},
        {"other digest", true, DigestLine("other"), false, false, true, false},
        {"uppercase digest", true, UpperDigestLine(image), false, false, true, false},
    };
    for (const auto& c : cases) {
        FakeFileSystem files;
        if (c.hasImage)
            files.SetFile("fw.bit", image);
        if (c.digestFile != "-")
            files.SetFile("fw.bit.md5", c.digestFile);
        files.FaultsFor("fw.bit").openFails = c.openFails;
        files.FaultsFor("fw.bit").readFails = c.readFails;
        const FlashImageCheck check = CheckFlashImage(files, "fw.xsvf");
        EXPECT_EQ(c.found, check.found) << c.what;
        EXPECT_EQ(c.verified, check.verified) << c.what;
    }

    // The bare name "xsvf" has no image name; nothing is looked up.
    FakeFileSystem files;
    files.SetFile(".bit", image);
    files.SetFile(".bit.md5", DigestLine(image));
    const FlashImageCheck check = CheckFlashImage(files, "xsvf");
    EXPECT_FALSE(check.found);
    EXPECT_EQ(0, files.ReadCount(".bit"));
}

TEST(UpdateFiles, UpdateFileCheck) {
    const std::string stream = std::string("\x07\x00\x12\x00\x00\x00\x20", 7);
    enum Fault { None, Open, Size, Read, Memory, DigestUnreadable };
    const struct {
        const char* what;
        std::string content;
        std::string digestFile; // "-" for no digest file
        Fault fault;
        UpdateFileStatus status;
    } cases[] = {
        {"matching digest", stream, DigestLine(stream), None, UpdateFileStatus::Ok},
        {"empty file with the digest of empty input", "", "d41d8cd98f00b204e9800998ecf8427e\n", None,
         UpdateFileStatus::Ok},
        {"open fails", stream, DigestLine(stream), Open, UpdateFileStatus::CannotOpen},
        {"size query fails", stream, DigestLine(stream), Size, UpdateFileStatus::CannotOpen},
        {"read fails", stream, DigestLine(stream), Read, UpdateFileStatus::CannotOpen},
        {"no memory", stream, DigestLine(stream), Memory, UpdateFileStatus::CannotOpen},
        {"no digest file", stream, "-", None, UpdateFileStatus::Corrupt},
        {"digest file unreadable", stream, DigestLine(stream), DigestUnreadable, UpdateFileStatus::Corrupt},
        {"other digest", stream, DigestLine("other"), None, UpdateFileStatus::Corrupt},
        {"uppercase digest", stream, UpperDigestLine(stream), None, UpdateFileStatus::Corrupt},
        {"empty first line", stream, "\n" + DigestLine(stream), None, UpdateFileStatus::Corrupt},
        {"tab after digest", stream, Md5Hex(stream.data(), stream.size()) + "\tfw.xsvf\n", None,
         UpdateFileStatus::Corrupt},
        {"empty digest for empty file", "", "\n", None, UpdateFileStatus::Corrupt},
    };
    for (const auto& c : cases) {
        FakeFileSystem files;
        files.SetFile("fw.xsvf", c.content);
        if (c.digestFile != "-")
            files.SetFile("fw.xsvf.md5", c.digestFile);
        auto& faults = files.FaultsFor("fw.xsvf");
        faults.openFails = c.fault == Open;
        faults.sizeFails = c.fault == Size;
        faults.readFails = c.fault == Read;
        faults.outOfMemory = c.fault == Memory;
        files.FaultsFor("fw.xsvf.md5").readFails = c.fault == DigestUnreadable;

        std::vector<uint8_t> loaded = {1, 2, 3}; // left over from an earlier pass
        EXPECT_EQ(c.status, CheckUpdateFile(files, "fw.xsvf", loaded)) << c.what;
        if (c.status == UpdateFileStatus::Ok)
            EXPECT_EQ(c.content, std::string(loaded.begin(), loaded.end())) << c.what;
        else
            EXPECT_TRUE(loaded.empty()) << c.what;
    }
}

} // namespace
