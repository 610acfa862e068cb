// The cards reached through the display library: the attempt that decides whether the library carries the
// flash image (the adapter match, the settling rounds, the version read and the bus test with its speed
// steps), and the check of the final pass after the restart that such an update ends with.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ExternalDeviceLayer/AdlI2c.h"
#include "ExternalDeviceLayer/PciScan.h"
#include "ExternalDeviceLayer/adl/AdlBinder.h"
#include "app/stages/CardSearch.h"

constexpr uint32_t kAdlSettlingRounds = 32;
constexpr uint32_t kAdlBusTestReads = 512;
// A version through the display library that could not be read.
constexpr const wchar_t* kUnreadAdlVersion = L"0.0.0";

// The binder and what its transfers' retries do.
struct tagAdlAccess {
    CAdlBinder& binder;
    tagAdlI2cHooks hooks;
};

// Three bytes of the version block (build, minor, major) of one slave; false when the read failed, and
// then the bytes are not to be used.
bool ReadAdlVersionBlock(tagAdlAccess& adl, int32_t adapterIndex, uint32_t slave, unsigned char (&bytes)[3]);
// 32 rounds of reads of the three slaves, whose results are not looked at: they settle the bus.
void SettleAdlBus(tagAdlAccess& adl, int32_t adapterIndex);

// What the attempt found. `adlMode`: the library reaches every card; `imageVerified` is cleared by a card
// too old for the flash image or a bus that misreads even at 400 kHz.
struct tagAdlAttempt {
    bool ran = false; // bound, with a verified image: the retry count is then 10
    bool adlMode = false;
    bool imageVerified = false;
    std::array<int32_t, kMaxCards> adapterIndex{};
    std::array<std::wstring, kMaxCards> versions;
};

// Binds the library and, with a verified image, matches the cards to adapters and tests each card's bus
// through it. The library stays bound only when it is to carry the update. `speedGiven`: the speed came
// from the command line, and no bus test is made.
tagAdlAttempt AttemptAdl(tagAdlAccess& adl, const tagPciInfo* records, int32_t cardCount, bool imageVerified,
                         bool speedGiven, const std::function<void()>& closeDesktopManager);

// For each card, the position of the first adapter record of its PCI location, or -1.
void MatchCardsToAdapters(CAdlBinder& binder, const tagPciInfo* records, int32_t cardCount,
                          int32_t* adapterIndex);

// The final pass's check of cards updated through the library, with the library bound: every card's bus
// settled, then per card 0xD0 read and 0xD2 and 0xD4 compared with it. The index of the first card whose
// reads fail or differ, or -1 when all answer alike.
int32_t FirstFailingAdlCard(tagAdlAccess& adl, const int32_t* adapterIndex, int32_t cardCount);
