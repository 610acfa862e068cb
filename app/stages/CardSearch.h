// Finding the cards: the hardware-access service brought up, the PCI bus scanned.
#pragma once

#include <cstdint>
#include <memory>

#include "ExternalDeviceLayer/PciScan.h"
#include "ExternalDeviceLayer/VskLibrary.h"
#include "platform/Platform.h"

// More cards than this are refused before any is touched.
constexpr int32_t kMaxCards = 32;

struct tagFoundCards {
    enum class Outcome { Found, ServiceFailed, NoCards, TooManyCards };
    Outcome outcome = Outcome::ServiceFailed;
    // The service client and the scan, kept by the run for the rest of the process whatever the outcome.
    std::unique_ptr<CVskLibrary> service;
    std::unique_ptr<CPciScan> scan; // none when the service failed
    int32_t count = 0;
};

tagFoundCards FindCards(plat::Platform& platform);
