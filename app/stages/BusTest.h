// The I2C bus test of the cards' own engines, before a flash image is written through them: each card's
// 0xD2 and 0xD4 must give the version block of 0xD0, and, unless the speed was given on the command line,
// 512 reads of 0xD0 must all agree with the first. A card that misreads lowers the process-wide speed from
// 800 to 600 to 400 and is tested again; the lowered speed stays for the later cards and the update.
#pragma once

#include <cstdint>
#include <vector>

#include "ExternalDeviceLayer/I2cPort.h"

constexpr uint32_t kBusTestReads = 512;

// True when every card passed (the flash image may be written through the engines).
bool TestCardBuses(const std::vector<CI2cPort*>& cards, bool speedGiven);
