// The update file given on the command line, the flash image that may lie beside it, and their checks
// against the MD5 digest files kept next to them. The checks only report outcomes; the update run prints
// the messages and sets the exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

// The digest file of an update file or flash image: the name followed by ".md5".
std::string DigestFileName(const std::string& fileName);

// The flash image beside an update file: the name with its last five characters replaced by ".bit",
// whatever they are (fw.xsvf -> fw.bit, and fwxsvf -> f.bit since its last five are "wxsvf"). A name of
// fewer than five characters, such as the bare name "xsvf", has no five characters to replace and so has no
// flash image: the result is empty text, and the update goes through the XSVF stream.
std::string FlashImageName(const std::string& updateFileName);

struct FlashImageCheck {
    bool found = false;    // the image file could be opened
    bool verified = false; // read whole, and its digest equals the one in its digest file
};

// Looks for the flash image of an update file and checks it against its digest file. An image that cannot
// be opened (or that the name has no room for) is not found. An image that opens but cannot be read whole,
// or whose digest file is missing, empty or different, is found but not verified.
FlashImageCheck CheckFlashImage(plat::FileSystem& files, const std::string& updateFileName);

enum class UpdateFileStatus {
    Ok,         // read whole and its digest equals the one in its digest file
    CannotOpen, // cannot be opened, sized, read, or memory for it cannot be had
    Corrupt,    // the digest file is missing, unreadable, or holds another digest (case-sensitive)
};

// Reads the update file whole into `stream` and checks it against its digest file. On Ok `stream` holds the
// file's bytes (none for an empty file, which is a valid file); otherwise `stream` is left empty. On Corrupt
// the caller also treats the flash image as not verified.
UpdateFileStatus CheckUpdateFile(plat::FileSystem& files, const std::string& updateFileName,
                                 std::vector<uint8_t>& stream);
