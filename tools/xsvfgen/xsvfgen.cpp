// xsvfgen: makes firmware images of the Q740's FPGA and the update streams that program them.
//
//   xsvfgen IN.bit OUT.xsvf [--version M.m.b] [--ir N] [--idcode X] [--erase-wait US] [--erase-polls N]
//                           [--no-md5]
//   xsvfgen make-bit OUT.bit --version M.m.b --size N [--no-md5]
//
// Each file written gets its digest file beside it (OUT.md5: the lowercase MD5 text, two blanks, the file
// name) unless --no-md5. Bad use exits with 2, a failure with 1.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/FpgaImage.h"
#include "sim/FpgaStream.h"
#include "update/Md5.h"

namespace {

int Usage(const char* message) {
    std::fprintf(stderr, "xsvfgen: %s\n", message);
    std::fprintf(stderr,
                 "usage: xsvfgen IN.bit OUT.xsvf [--version M.m.b] [--ir N] [--idcode X] [--erase-wait US]\n"
                 "                               [--erase-polls N] [--no-md5]\n"
                 "       xsvfgen make-bit OUT.bit --version M.m.b --size N [--no-md5]\n");
    return 2;
}

bool ParseNumber(const char* text, uint32_t& value) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || *end != 0 || v > 0xFFFFFFFFull || text[0] == '-')
        return false;
    value = uint32_t(v);
    return true;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    out.close();
    if (out.fail()) {
        std::fprintf(stderr, "xsvfgen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool WriteWithDigest(const std::string& path, const std::vector<uint8_t>& data, bool digest) {
    if (!WriteFile(path, data.data(), data.size()))
        return false;
    if (!digest)
        return true;
    const std::string text = Md5Hex(data.data(), data.size()) + "  " + BaseName(path) + "\n";
    return WriteFile(path + ".md5", text.data(), text.size());
}

int MakeBit(int argc, char** argv) {
    std::string out;
    sim::FirmwareVersion version;
    bool haveVersion = false;
    uint32_t size = 0;
    bool digest = true;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version" && i + 1 < argc) {
            if (!sim::ParseVersion(argv[++i], version))
                return Usage("--version takes M.m.b, each 0 to 255");
            haveVersion = true;
        } else if (arg == "--size" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], size) || size < sim::kFirmwareHeaderSize + 4 || size > (64u << 20))
                return Usage("--size takes a byte count from 72 to 64 MiB");
        } else if (arg == "--no-md5") {
            digest = false;
        } else if (!arg.empty() && arg[0] != '-' && out.empty()) {
            out = arg;
        } else {
            return Usage(("unexpected argument " + arg).c_str());
        }
    }
    if (out.empty() || !haveVersion || size == 0)
        return Usage("make-bit needs OUT.bit, --version and --size");
    return WriteWithDigest(out, sim::MakeFirmwareFile(version, size), digest) ? 0 : 1;
}

int MakeStream(int argc, char** argv) {
    std::vector<std::string> files;
    sim::UpdateStreamOptions options;
    sim::FirmwareVersion expected;
    bool checkVersion = false;
    bool digest = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        uint32_t value = 0;
        const bool hasValue = i + 1 < argc;
        if (arg == "--version" && hasValue) {
            if (!sim::ParseVersion(argv[++i], expected))
                return Usage("--version takes M.m.b, each 0 to 255");
            checkVersion = true;
        } else if (arg == "--ir" && hasValue) {
            if (!ParseNumber(argv[++i], value) || value < 5 || value > 32)
                return Usage("--ir takes 5 to 32");
            options.irLength = value;
        } else if (arg == "--idcode" && hasValue) {
            if (!ParseNumber(argv[++i], options.idcode))
                return Usage("--idcode takes a 32-bit number");
        } else if (arg == "--erase-wait" && hasValue) {
            if (!ParseNumber(argv[++i], options.eraseWait) || options.eraseWait > 0x7FFFFFFF)
                return Usage("--erase-wait takes microseconds");
        } else if (arg == "--erase-polls" && hasValue) {
            if (!ParseNumber(argv[++i], value) || value > 255)
                return Usage("--erase-polls takes 0 to 255");
            options.erasePolls = uint8_t(value);
        } else if (arg == "--no-md5") {
            digest = false;
        } else if (!arg.empty() && arg[0] != '-') {
            files.push_back(arg);
        } else {
            return Usage(("unexpected argument " + arg).c_str());
        }
    }
    if (files.size() != 2)
        return Usage("needs IN.bit and OUT.xsvf");

    std::ifstream in(files[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "xsvfgen: cannot read %s\n", files[0].c_str());
        return 1;
    }
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    sim::FirmwareVersion version;
    size_t offset = 0;
    const sim::ImageCheck check = sim::CheckBitstreamFile(image.data(), image.size(), version, offset);
    if (check == sim::ImageCheck::Ok && checkVersion && version != expected) {
        std::fprintf(stderr, "xsvfgen: %s holds firmware %s, not %s\n", files[0].c_str(),
                     sim::FormatVersion(version).c_str(), sim::FormatVersion(expected).c_str());
        return 1;
    }
    std::vector<uint8_t> stream;
    std::string error;
    if (!sim::MakeUpdateStream(image.data(), image.size(), options, stream, error)) {
        std::fprintf(stderr, "xsvfgen: %s: %s\n", files[0].c_str(), error.c_str());
        return 1;
    }
    return WriteWithDigest(files[1], stream, digest) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage("nothing to do");
    if (std::strcmp(argv[1], "make-bit") == 0)
        return MakeBit(argc, argv);
    return MakeStream(argc, argv);
}
