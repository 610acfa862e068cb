#include "update/UpdateFiles.h"

#include "update/DigestFile.h"
#include "update/Md5.h"

std::string DigestFileName(const std::string& fileName) {
    return fileName + ".md5";
}

std::string FlashImageName(const std::string& updateFileName) {
    if (updateFileName.size() < 5)
        return std::string();
    return updateFileName.substr(0, updateFileName.size() - 5) + ".bit";
}

FlashImageCheck CheckFlashImage(plat::FileSystem& files, const std::string& updateFileName) {
    FlashImageCheck check;
    const std::string imageName = FlashImageName(updateFileName);
    if (imageName.empty())
        return check;

    std::vector<uint8_t> image;
    const plat::ReadStatus status = files.ReadWhole(imageName, image);
    if (status == plat::ReadStatus::OpenFailed)
        return check;
    check.found = true;
    if (status != plat::ReadStatus::Ok)
        return check;

    const std::string actual = Md5Hex(image.data(), image.size());
    // The flash worker reads the image again by name; the copy is not kept.
    std::vector<uint8_t>().swap(image);
    const std::string expected = ReadExpectedDigest(files, DigestFileName(imageName));
    check.verified = !expected.empty() && expected == actual;
    return check;
}

UpdateFileStatus CheckUpdateFile(plat::FileSystem& files, const std::string& updateFileName,
                                 std::vector<uint8_t>& stream) {
    stream.clear();
    if (files.ReadWhole(updateFileName, stream) != plat::ReadStatus::Ok) {
        stream.clear();
        return UpdateFileStatus::CannotOpen;
    }
    const std::string actual = Md5Hex(stream.data(), stream.size());
    const std::string expected = ReadExpectedDigest(files, DigestFileName(updateFileName));
    if (expected.empty() || expected != actual) {
        stream.clear();
        return UpdateFileStatus::Corrupt;
    }
    return UpdateFileStatus::Ok;
}
