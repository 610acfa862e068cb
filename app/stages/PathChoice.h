// Choosing between the flash image and the XSVF stream, and listing the cards: one card object and one
// update job per card, the JTAG lines claimed (and calibrated) when there is a stream to play.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ExternalDeviceLayer/HwAccess.h"
#include "ExternalDeviceLayer/PciScan.h"
#include "app/Printer.h"
#include "app/stages/AdlCards.h"
#include "platform/Platform.h"
#include "update/CmdLineOptions.h"
#include "update/DeviceUpdate.h"
#include "update/JtagPort.h"
#include "update/QSeries.h"

// The cards of a run with their jobs: each card's `job` points into `jobs`, which must stay where it is
// while workers run.
struct tagCardSet {
    std::vector<std::unique_ptr<CQSeries>> cards;
    std::unique_ptr<tagDeviceUpdate[]> jobs;
    int32_t count = 0;
    uint32_t largestSettle = 0; // the largest settle count of any job
};

struct tagPathChoiceInput {
    const CMArray<tagPciInfo>& records;
    int32_t cardCount = 0;
    CHwAccess& service;
    const tagCmdLineOptions& options;
    const std::vector<uint8_t>& stream; // empty: nothing to play, no port is claimed
    bool xsvfPath = false;              // as the update file check found
    bool imageVerified = false;
    // Runs once, before the listing for the XSVF stream (the display driver taken off the cards unless the
    // display library carries a verified flash image, which the argument says).
    std::function<void(bool adlCarriesImage)> beforeListing = {};
    // The display library and what its retries do; null: no attempt is made.
    tagAdlAccess* adl = nullptr;
    std::function<void()> closeDesktopManager = {};
};

struct tagPathChoice {
    tagCardSet cards;
    bool xsvfPath = false;
    bool imageVerified = false; // cleared when a card's version does not allow the flash image
    bool adlMode = false;       // the display library carries the transfers
};

tagPathChoice ChoosePathAndListCards(plat::Platform& platform, CPrinter& printer,
                                     const tagPathChoiceInput& input);

// The calibration spinner, drawn straight on the console: it is no part of the log or the transcript.
CalibrationProgress ConsoleSpinner(plat::Console& console);
