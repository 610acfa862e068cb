#include "app/stages/AdlCards.h"

#include <cstring>
#include <vector>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "update/QSeries.h"

namespace {

// 512 reads of 0xD0, each compared with the first; a read that fails counts as a difference.
bool BusReadsAgree(tagAdlAccess& adl, int32_t adapterIndex) {
    unsigned char first[3];
    if (!ReadAdlVersionBlock(adl, adapterIndex, kFpgaSlaves[0], first))
        return false;
    for (uint32_t i = 1; i < kAdlBusTestReads; ++i) {
        unsigned char bytes[3];
        if (!ReadAdlVersionBlock(adl, adapterIndex, kFpgaSlaves[0], bytes) ||
            std::memcmp(bytes, first, sizeof bytes) != 0)
            return false;
    }
    return true;
}

// The bus test of one card with the speed steps: true when its reads agree at the speed it ends at.
bool TestAdlBus(tagAdlAccess& adl, int32_t adapterIndex) {
    tagI2cSettings& settings = I2cSettings();
    while (!BusReadsAgree(adl, adapterIndex)) {
        const uint32_t lower = LowerI2cSpeed(settings.SpeedKhz());
        if (lower == 0)
            return false;
        settings.speedKhz.store(lower);
    }
    return true;
}

} // namespace

bool ReadAdlVersionBlock(tagAdlAccess& adl, int32_t adapterIndex, uint32_t slave, unsigned char (&bytes)[3]) {
    std::memset(bytes, 0, sizeof bytes);
    return I2cAdlRead(adl.binder, adl.hooks, adapterIndex, slave,
                      static_cast<uint16_t>(kFpgaVersionSubAddress), bytes, sizeof bytes) != 0;
}

void SettleAdlBus(tagAdlAccess& adl, int32_t adapterIndex) {
    for (uint32_t round = 0; round < kAdlSettlingRounds; ++round)
        for (uint32_t slave : kFpgaSlaves) {
            unsigned char bytes[3];
            ReadAdlVersionBlock(adl, adapterIndex, slave, bytes);
        }
}

void MatchCardsToAdapters(CAdlBinder& binder, const tagPciInfo* records, int32_t cardCount,
                          int32_t* adapterIndex) {
    std::vector<tagPciLocation> cards;
    for (int32_t i = 0; i < cardCount; ++i)
        cards.push_back({records[i].bus, records[i].device, records[i].function});
    int count = 0;
    std::vector<AdapterInfo> adapters;
    if (binder.Adapter_NumberOfAdapters_Get(&count) == kAdlOk && count > 0) {
        adapters.assign(static_cast<size_t>(count), AdapterInfo{});
        if (binder.Adapter_AdapterInfo_Get(adapters.data(), count * static_cast<int>(kAdlAdapterInfoSize)) !=
            kAdlOk)
            adapters.clear(); // records that were not fetched match nothing
    }
    MatchAdapters(adapters.data(), static_cast<int32_t>(adapters.size()), cards.data(), cardCount,
                  adapterIndex);
}

tagAdlAttempt AttemptAdl(tagAdlAccess& adl, const tagPciInfo* records, int32_t cardCount, bool imageVerified,
                         bool speedGiven, const std::function<void()>& closeDesktopManager) {
    tagAdlAttempt attempt;
    attempt.imageVerified = imageVerified;
    attempt.adapterIndex.fill(-1);
    const bool bound = adl.binder.Bind(AdlAllocate, 1, kAdlModeContext, kAdlThreadingLocked);
    if (!bound || !imageVerified) {
        adl.binder.Unbind();
        return attempt;
    }
    attempt.ran = true;
    if (closeDesktopManager)
        closeDesktopManager();
    MatchCardsToAdapters(adl.binder, records, cardCount, attempt.adapterIndex.data());
    attempt.adlMode = true;
    for (int32_t i = 0; i < cardCount; ++i) {
        const int32_t adapter = attempt.adapterIndex[static_cast<size_t>(i)];
        SettleAdlBus(adl, adapter);
        unsigned char bytes[3];
        if (!ReadAdlVersionBlock(adl, adapter, kFpgaSlaves[0], bytes)) {
            // The cards' own engines are used instead; they read the versions again.
            attempt.versions[static_cast<size_t>(i)] = kUnreadAdlVersion;
            attempt.adlMode = false;
            break;
        }
        const FpgaVersion version = MakeFpgaVersion(bytes[2], bytes[1], bytes[0]);
        attempt.versions[static_cast<size_t>(i)] = version.text;
        if (!version.allowsFlashImage) {
            attempt.adlMode = false;
            attempt.imageVerified = false;
            break;
        }
        if (!speedGiven && !TestAdlBus(adl, adapter)) {
            attempt.adlMode = false;
            attempt.imageVerified = false;
            break;
        }
    }
    I2cSettings().retryCount.store(kAdlI2cRetries);
    if (!attempt.adlMode)
        adl.binder.Unbind();
    return attempt;
}

int32_t FirstFailingAdlCard(tagAdlAccess& adl, const int32_t* adapterIndex, int32_t cardCount) {
    for (int32_t i = 0; i < cardCount; ++i)
        SettleAdlBus(adl, adapterIndex[i]);
    for (int32_t i = 0; i < cardCount; ++i) {
        unsigned char reference[3];
        if (!ReadAdlVersionBlock(adl, adapterIndex[i], kFpgaSlaves[0], reference))
            return i;
        for (uint32_t slave : {kFpgaSlaves[1], kFpgaSlaves[2]}) {
            unsigned char bytes[3];
            if (!ReadAdlVersionBlock(adl, adapterIndex[i], slave, bytes) ||
                std::memcmp(bytes, reference, sizeof bytes) != 0)
                return i;
        }
    }
    return -1;
}
