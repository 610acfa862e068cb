#include "app/stages/BusTest.h"

#include <cstring>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "update/QSeries.h"

namespace {

constexpr uint32_t kVersionBytes = 4;

// One read of the version block with a two-byte sub-address.
bool ReadVersionBlock(CI2cPort& card, uint32_t slave, unsigned char (&bytes)[kVersionBytes]) {
    std::memset(bytes, 0, sizeof bytes);
    return card.I2cRead(slave, 2, kFpgaVersionSubAddress, kVersionBytes, bytes) != 0;
}

// A read that went through and shows the reference's version (bytes 1 to 3; byte 0 is the count).
bool Agrees(CI2cPort& card, uint32_t slave, const unsigned char (&reference)[kVersionBytes]) {
    unsigned char bytes[kVersionBytes];
    return ReadVersionBlock(card, slave, bytes) && std::memcmp(bytes + 1, reference + 1, 3) == 0;
}

} // namespace

bool TestCardBuses(const std::vector<CI2cPort*>& cards, bool speedGiven) {
    tagI2cSettings& settings = I2cSettings();
    for (CI2cPort* card : cards) {
        card->I2cEngineAcquire();
        // Nothing is decided on bytes that were not read: a reference that cannot be read fails the card.
        unsigned char reference[kVersionBytes];
        bool pass = ReadVersionBlock(*card, kFpgaSlaves[0], reference);
        pass = pass && Agrees(*card, kFpgaSlaves[1], reference);
        pass = pass && Agrees(*card, kFpgaSlaves[2], reference);
        if (!pass || speedGiven) {
            card->I2cEngineRelease();
            if (!pass)
                return false;
            continue;
        }
        for (;;) {
            pass = true;
            for (uint32_t i = 0; i < kBusTestReads && pass; ++i)
                pass = Agrees(*card, kFpgaSlaves[0], reference);
            card->I2cEngineRelease();
            if (pass)
                break;
            const uint32_t lower = LowerI2cSpeed(settings.SpeedKhz());
            if (lower == 0)
                return false;
            settings.speedKhz.store(lower);
            card->I2cEngineAcquire(); // programs the new speed
        }
    }
    return true;
}
