// The flash writer: each bridge command's register accesses, the part table, the start marker, the sector
// and page walk, and whole updates into the simulated parts behind three bridges, read back as the FPGA
// would find them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/FlashSpi.h"
#include "fakes/FakeFileSystem.h"
#include "sim/FlashParts.h"
#include "sim/FpgaImage.h"
#include "sim/SpiBridge.h"
#include "sim/SpiFlash.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A card port that writes every register access down ("D0 34=01", "D0 36?" for a read) and hands it to
// the bridge of a simulated slave, where there is one. `failWrite` fails the n-th write and every one after
// it (0: none).
class RecordingPort : public CI2cPort {
public:
    int I2cRead(uint32_t slave, uint32_t width, uint32_t sub, uint32_t count,
                unsigned char* buffer) override {
        Note(slave, width, sub, "?", nullptr, count);
        if (failReads > 0) {
            --failReads;
            return 0;
        }
        for (uint32_t i = 0; i < count; ++i)
            buffer[i] = bridges[Index(slave)] ? bridges[Index(slave)]->Read(sub) : readValue;
        return 1;
    }
    int I2cWrite(uint32_t slave, uint32_t width, uint32_t sub, uint32_t count,
                 const unsigned char* buffer) override {
        Note(slave, width, sub, "=", buffer, count);
        if (failWrite != 0 && ++writes >= failWrite)
            return 0;
        if (bridges[Index(slave)]) {
            for (uint32_t i = 0; i < count; ++i) // the data port keeps its pointer
                bridges[Index(slave)]->Write(sub == flashspi::kDataOut ? sub : sub + i, buffer[i]);
        }
        return 1;
    }
    int I2cEngineAcquire() override {
        ++acquired;
        return acquireFails ? 0 : 1;
    }
    int I2cEngineRelease() override {
        ++released;
        return 1;
    }

    std::vector<std::string> log;
    bool recording = true;
    sim::SpiBridge* bridges[3] = {};
    uint8_t readValue = 0;
    int failReads = 0;
    uint64_t writes = 0, failWrite = 0;
    int acquired = 0, released = 0;
    bool acquireFails = false;

private:
    static size_t Index(uint32_t slave) { return (slave - 0xD0) / 2 % 3; }
    void Note(uint32_t slave, uint32_t width, uint32_t sub, const char* op, const unsigned char* data,
              uint32_t count) {
        if (!recording)
            return;
        char text[32];
        std::snprintf(text, sizeof text, "%02X%s %02X%s", slave, width == 2 ? "" : "!", sub, op);
        std::string line = text;
        for (uint32_t i = 0; data && i < count && i < 2; ++i) {
            std::snprintf(text, sizeof text, "%02X", data[i]);
            line += text;
        }
        if (count > 2 || (!data && count != 1))
            line += "+" + std::to_string(count);
        log.push_back(line);
    }
};

std::string Join(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines)
        all += (all.empty() ? "" : " ") + line;
    return all;
}

struct CommandCase {
    const char* name;
    void (*run)(CFlashSpi&);
    const char* expected;
};

TEST(FlashSpi, EachBridgeCommandIsItsRegisterSequence) {
    const CommandCase cases[] = {
        {"write enable", [](CFlashSpi& f) { f.WriteEnable(0xD2, true, 0x06); }, "D2 34=01 D2 34=21 D2 35=06"},
        {"write disable", [](CFlashSpi& f) { f.WriteEnable(0xD2, false, 0x50); },
         "D2 34=01 D2 34=21 D2 35=04"},
        {"one byte written",
         [](CFlashSpi& f) {
             const uint8_t b = 0x42;
             f.WriteCommand(0xD0, 0x01, &b, 1, 0x50);
         },
         "D0 34=01 D0 34=21 D0 35=50 D0 34=01 D0 35=01 D0 34=21 D0 35=42 D0 34=20"},
        {"three bytes written",
         [](CFlashSpi& f) {
             const uint8_t b[3] = {0x01, 0x20, 0x00};
             f.WriteCommand(0xD4, 0x20, b, 3, 0x06);
         },
         "D4 34=01 D4 34=21 D4 35=06 D4 34=01 D4 35=20 D4 35=01 D4 35=20 D4 34=21 D4 35=00 D4 34=20"},
        {"addressed read of two",
         [](CFlashSpi& f) {
             uint8_t b[2];
             f.ReadCommand(0xD0, 0x90, true, 0x123456, b, 2);
         },
         "D0 34=01 D0 35=90 D0 35=12 D0 35=34 D0 35=56 D0 34=11 D0 35=00 D0 36? D0 34=31 D0 35=00 D0 36? "
         "D0 34=20"},
        {"status read",
         [](CFlashSpi& f) {
             uint8_t a, b;
             f.ReadStatus(0xD0, a, b);
         },
         "D0 34=01 D0 35=05 D0 34=11 D0 34=31 D0 35=00 D0 36? D0 34=20"},
        {"page mode", [](CFlashSpi& f) { f.SetPageMode(0xD2, 3); }, "D2 37=03"},
    };
    for (const CommandCase& c : cases) {
        RecordingPort port;
        FakeFileSystem files;
        CFlashSpi flash(port, files);
        c.run(flash);
        EXPECT_EQ(Join(port.log), c.expected) << c.name;
    }
}

TEST(FlashSpi, APageFrameGoesInFourPiecesOf64AndOneOf4BetweenTwoSends) {
    RecordingPort port;
    FakeFileSystem files;
    CFlashSpi flash(port, files);
    Bytes page(256, 0xA5);
    flash.ProgramPage(0xD0, 0x001200, page.data());
    EXPECT_EQ(Join(port.log), "D0 34=01 D0 34=21 D0 35=06 D0 37=03 D0 35=0200+64 D0 35=A5A5+64 D0 35=A5A5+64 "
                              "D0 35=A5A5+64 D0 35=A5A5+4 D0 37=03");
}

TEST(FlashSpi, ReadyWaitIsBoundedAndStopsWhenNotBusy) {
    struct Case {
        uint8_t status;
        int framesExpected;
    } cases[] = {{0x00, 2}, {0x02, 2}, {0x01, 2001}};
    for (const Case& c : cases) {
        RecordingPort port;
        port.readValue = c.status;
        FakeFileSystem files;
        CFlashSpi flash(port, files);
        flash.WaitReady(0xD0);
        int frames = 0;
        for (const std::string& line : port.log)
            frames += line == "D0 35=05";
        EXPECT_EQ(frames, c.framesExpected) << int(c.status);
    }
}

TEST(FlashSpi, AReadThatFailsIsTriedOnceMoreAndTheCommandGoesOn) {
    RecordingPort port;
    port.failReads = 2;
    port.readValue = 0x77;
    FakeFileSystem files;
    CFlashSpi flash(port, files);
    uint8_t b[2] = {0xEE, 0xEE};
    EXPECT_TRUE(flash.ReadCommand(0xD0, 0x05, false, 0, b, 2));
    EXPECT_EQ(b[0], 0xEE); // failed twice: as it was
    EXPECT_EQ(b[1], 0x77);
}

TEST(FlashSpi, MarkerSearch) {
    const uint8_t* marker = sim::kBitstreamMarker;
    struct Case {
        const char* name;
        size_t before, after;
        bool present;
        size_t expected;
    } cases[] = {
        {"at 0", 0, 100, true, 0},
        {"inside", 77, 100, true, 77},
        {"at the very end", 300, 0, true, 300},
        {"missing", 300, 0, false, 300},
        {"cut by the end", 10, 0, false, 61},
    };
    for (const Case& c : cases) {
        Bytes data(c.before, 0x5A);
        if (c.present)
            data.insert(data.end(), marker, marker + flashspi::kStartMarkerSize);
        else if (c.before == 10)
            data.insert(data.end(), marker, marker + 51);
        data.insert(data.end(), c.after, 0x11);
        EXPECT_EQ(flashspi::FindStartMarker(data.data(), data.size()), c.expected) << c.name;
    }
    // A run of 0xFF longer than the marker's: the marker starts where its 32 lead bytes end.
    Bytes shifted(5, 0xFF);
    shifted.insert(shifted.end(), marker, marker + flashspi::kStartMarkerSize);
    EXPECT_EQ(flashspi::FindStartMarker(shifted.data(), shifted.size()), 5u);
}

TEST(FlashSpi, IdentifyOverThePartTable) {
    struct Case {
        uint8_t manufacturer, device;
        int supported;
        uint32_t size;
        bool two;
    } cases[] = {
        {0xBF, 0x49, 1, 0x20000, false}, {0x10, 0x10, 1, 0x20000, false}, {0x10, 0x77, 1, 0x20000, false},
        {0x9D, 0x7C, 1, 0x20000, false}, {0xEF, 0x16, 1, 0x800000, true}, {0x9D, 0x11, 1, 0x40000, false},
        {0x9D, 0x12, 1, 0x80000, false}, {0xEF, 0x17, 0, 0, false},       {0xBF, 0x48, 0, 0, false},
        {0xFF, 0xFF, 0, 0, false},
    };
    for (const Case& c : cases) {
        // A port whose data-in answers the ID bytes in turn.
        class IdPort : public RecordingPort {
        public:
            uint8_t id[2] = {};
            int next = 0;
            int I2cRead(uint32_t, uint32_t, uint32_t, uint32_t, unsigned char* buffer) override {
                buffer[0] = id[next++ % 2];
                return 1;
            }
        } port;
        port.id[0] = c.manufacturer;
        port.id[1] = c.device;
        FakeFileSystem files;
        CFlashSpi flash(port, files);
        EXPECT_EQ(flash.Identify(), c.supported) << std::hex << int(c.manufacturer) << " " << int(c.device);
        EXPECT_EQ(flash.FlashSize(), c.size);
        EXPECT_EQ(flash.FlashId(), c.supported ? uint16_t(c.manufacturer | c.device << 8) : 0);
        EXPECT_EQ(port.acquired, 1);
        EXPECT_EQ(port.released, 1);
        EXPECT_EQ(port.log.front(), "D0 37=00");
        EXPECT_EQ(port.log[2], "D4 37=00");
        if (c.supported) {
            EXPECT_EQ(flash.Part()->twoStatusRegisters, c.two);
        }
    }
}

// Three simulated flashes of one part behind three bridges, reached through the recording port.
struct Card {
    explicit Card(const std::string& partName, sim::FirmwareVersion factory = {1, 6, 10}) {
        sim::SpiFlashSettings settings;
        settings.part = partName;
        settings.factoryVersion = factory;
        for (size_t i = 0; i < 3; ++i) {
            flashes[i] = std::make_unique<sim::SpiFlash>(settings);
            bridges[i] = std::make_unique<sim::SpiBridge>(*flashes[i]);
            port.bridges[i] = bridges[i].get();
        }
        port.recording = false;
    }
    // What the FPGA would load from the flash behind slave `i`.
    sim::ImageCheck Boot(size_t i, sim::FirmwareVersion& version) {
        const Bytes& c = flashes[i]->Contents();
        return sim::CheckConfigData(c.data(), c.size(), version);
    }
    std::unique_ptr<sim::SpiFlash> flashes[3];
    std::unique_ptr<sim::SpiBridge> bridges[3];
    RecordingPort port;
    FakeFileSystem files;
};

class Progress : public CFlashProgress {
public:
    void SetPercent(uint32_t percent) override { seen.push_back(percent); }
    bool SlaveBySlave() const override { return slaveBySlave; }
    std::vector<uint32_t> seen;
    bool slaveBySlave = false;
};

std::string AsText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

TEST(FlashSpi, EverySupportedPartEndsWithTheImageReadBackAndItsProtectionAsBefore) {
    size_t count = 0;
    const sim::FlashPart* parts = sim::FlashParts(count);
    for (size_t n = 0; n < count; ++n) {
        for (bool slaveBySlave : {false, true}) {
            Card card(parts[n].name);
            const uint8_t before1 = card.flashes[2]->Status(0);
            const Bytes file = sim::MakeFirmwareFile({1, 7, 4}, 9000);
            card.files.SetFile("fw.bit", AsText(file));
            CFlashSpi flash(card.port, card.files);
            Progress progress;
            progress.slaveBySlave = slaveBySlave;
            ASSERT_EQ(flash.Program("fw.bit", 0, &progress), 1) << parts[n].name;
            for (size_t i = 0; i < 3; ++i) {
                sim::FirmwareVersion version;
                EXPECT_EQ(card.Boot(i, version), sim::ImageCheck::Ok) << parts[n].name << " slave " << i;
                EXPECT_EQ(sim::FormatVersion(version), "1.7.4");
                EXPECT_EQ(card.flashes[i]->Record().Total(), 0u) << parts[n].name << " slave " << i;
            }
            EXPECT_EQ(card.flashes[2]->Status(0) & 0xBC, before1 & 0xBC) << parts[n].name;
            EXPECT_EQ(progress.seen, (std::vector<uint32_t>{45, 91})) << parts[n].name;
            EXPECT_EQ(card.port.acquired, card.port.released);
        }
    }
}

// A bitstream file: a header, the marker, then `imageBytes` - 52 bytes counting up.
std::string Bitstream(size_t imageBytes) {
    Bytes file = {0x00, 0x09, 0x0F, 0xF0, 'h', 'e', 'a', 'd'};
    file.insert(file.end(), sim::kBitstreamMarker, sim::kBitstreamMarker + sim::kBitstreamMarkerSize);
    for (size_t i = sim::kBitstreamMarkerSize; i < imageBytes; ++i)
        file.push_back(uint8_t(i * 7));
    return AsText(file);
}

TEST(FlashSpi, SectorsAndPagesFollowTheImageSize) {
    struct Case {
        size_t bytes;
        uint64_t erases, pageFrames;
    } cases[] = {{4096, 1, 16}, {4097, 2, 17}, {300, 1, 2}, {8192, 2, 32}};
    for (const Case& c : cases) {
        Card card("Pm25LD020");
        card.files.SetFile("a.bit", Bitstream(c.bytes));
        CFlashSpi flash(card.port, card.files);
        ASSERT_EQ(flash.Program("a.bit", 0, nullptr), 1) << c.bytes;
        const std::string file = Bitstream(c.bytes);
        const Bytes& contents = card.flashes[1]->Contents();
        EXPECT_EQ(std::string(contents.begin(), contents.begin() + long(c.bytes)), file.substr(8)) << c.bytes;
        // The last page's bytes beyond the image stay erased.
        if (c.bytes % 256 != 0) {
            EXPECT_EQ(contents[c.bytes], 0xFF) << c.bytes;
        }
        EXPECT_EQ(card.flashes[1]->Counters().erases, c.erases) << c.bytes;
        EXPECT_EQ(card.bridges[1]->Counters().pageFrames, c.pageFrames) << c.bytes;
        EXPECT_EQ(card.bridges[1]->Record().Total(), 0u) << c.bytes;
    }
}

// Whatever keeps the image from the flash fails the update, and nothing is written before the file and the
// part are known to be good.
TEST(FlashSpi, AnUpdateThatDoesNotTakeFails) {
    struct Case {
        const char* name;
        const char* part;
        void (*setUp)(Card&);
        std::string file;
        uint64_t erases; // on the flash behind 0xD4
    } cases[] = {
        {"stuck busy", "Pm25LD040", [](Card& c) { c.flashes[2] = nullptr; }, Bitstream(5000), 0},
        {"no start marker", "Pm25LD040", [](Card&) {}, std::string(6000, '\x5A'), 0},
        {"file missing", "Pm25LD040", [](Card& c) { c.files.FaultsFor(L"a.bit").openFails = true; },
         Bitstream(100), 0},
        {"engine not had", "Pm25LD040", [](Card& c) { c.port.acquireFails = true; }, Bitstream(5000), 0},
        {"bridge write fails", "Pm25LD040", [](Card& c) { c.port.failWrite = 2000; }, Bitstream(9000), 1},
        {"larger than the part", "SST25VF010A", [](Card&) {}, Bitstream(0x20001), 0},
    };
    for (const Case& c : cases) {
        Card card(c.part);
        if (std::string(c.name) == "stuck busy") {
            sim::SpiFlashSettings stuck;
            stuck.part = c.part;
            stuck.stuckBusy = true;
            card.flashes[2] = std::make_unique<sim::SpiFlash>(stuck);
            card.bridges[2] = std::make_unique<sim::SpiBridge>(*card.flashes[2]);
            card.port.bridges[2] = card.bridges[2].get();
        } else {
            c.setUp(card);
        }
        card.files.SetFile("a.bit", c.file);
        CFlashSpi flash(card.port, card.files);
        Progress progress;
        EXPECT_EQ(flash.Program("a.bit", 0, &progress), 0) << c.name;
        EXPECT_EQ(card.flashes[2]->Counters().erases, c.erases) << c.name;
        EXPECT_EQ(card.port.released, card.port.acquireFails ? 0 : card.port.acquired) << c.name;
        EXPECT_TRUE(progress.seen.empty()) << c.name;
    }
}

TEST(FlashSpi, AnUnknownPartIsRefusedBeforeAnyWrite) {
    RecordingPort port;
    port.readValue = 0xC2;
    FakeFileSystem files;
    files.SetFile("a.bit", Bitstream(5000));
    CFlashSpi flash(port, files);
    EXPECT_EQ(flash.Program("a.bit", 0, nullptr), 0);
    for (const std::string& line : port.log)
        EXPECT_TRUE(line.find("35=06") == std::string::npos && line.find("35=20") == std::string::npos)
            << line;
}

// Each flash protected its own way; on the part with two status registers one has its complement bit set,
// with which a block-protect value of 0 protects the whole array. The update clears what protects for the
// writing, and every flash gets its own registers back afterwards, not another's.
TEST(FlashSpi, EachFlashGetsItsOwnProtectionBack) {
    struct Case {
        const char* part;
        Bytes status[3]; // the write status frame each flash had
    };
    const Case cases[] = {
        {"W25Q64FV", {{0x01, 0x00, 0x40}, {0x01, 0x1C, 0x00}, {0x01, 0x04, 0x00}}},
        {"Pm25LV010", {{0x01, 0x0C}, {0x01, 0x00}, {0x01, 0x04}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Card card(c.part);
        uint8_t before1[3] = {}, before2[3] = {};
        for (size_t i = 0; i < 3; ++i) {
            sim::SpiFlash& f = *card.flashes[i];
            for (const Bytes& frame : {Bytes{0x06}, c.status[i]}) {
                f.Select();
                for (uint8_t b : frame)
                    f.Transfer(b);
                f.Deselect();
            }
            for (int n = 0; n < 100 && f.Busy(); ++n)
                f.Select(), f.Transfer(0x05), f.Transfer(0), f.Deselect();
            before1[i] = f.Status(0);
            before2[i] = f.Status(1);
        }
        ASSERT_NE(before1[0], before1[2]);
        card.files.SetFile("a.bit", AsText(sim::MakeFirmwareFile({1, 8, 0}, 5000)));
        CFlashSpi flash(card.port, card.files);
        ASSERT_EQ(flash.Program("a.bit", 0, nullptr), 1);
        for (size_t i = 0; i < 3; ++i) {
            sim::FirmwareVersion version;
            EXPECT_EQ(card.Boot(i, version), sim::ImageCheck::Ok) << i;
            EXPECT_EQ(card.flashes[i]->Status(0) & 0xFC, before1[i] & 0xFC) << i;
            EXPECT_EQ(card.flashes[i]->Status(1), before2[i]) << i;
        }
    }
}

} // namespace
