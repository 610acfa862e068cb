// The card objects: CDevBase, the abstract card device, and CQSeries, one Veskora Q740 with its XSVF worker.
#pragma once

#include <cstdint>
#include <string>

#include "ExternalDeviceLayer/PciScan.h"
#include "ExternalDeviceLayer/RegisterBus.h"
#include "update/CmdLineOptions.h"
#include "update/DeviceUpdate.h"
#include "update/XsvfPlayer.h"

class CDevBase {
public:
    CDevBase() = default;
    CDevBase(const CDevBase&) = delete;
    CDevBase& operator=(const CDevBase&) = delete;
    virtual ~CDevBase() = default;
    // Updates the card; returns the result code, which is also stored in the job.
    virtual int32_t Update(tagDeviceUpdate* job) = 0;

    tagCmdLineOptions cmdLine; // a copy of the run's options
};

// An FPGA version as text, and whether it is new enough for the flash-image path (1.6.13 or later).
struct FpgaVersion {
    std::wstring text;
    bool allowsFlashImage = false;
};

class CQSeries : public CDevBase {
public:
    explicit CQSeries(RegisterBus& bus) : bus_(bus) {}

    // The XSVF worker: plays the job's stream into the card's FPGA, then finishes the job (result, then 100
    // percent) as its very last act, whatever the stream held after its last command.
    int32_t Update(tagDeviceUpdate* job) override;
    // Reads the FPGA version over the card's I2C engine; "0.0.000" when it cannot be read.
    virtual FpgaVersion GetFpgaVersion();

    static bool VersionAllowsFlashImage(uint32_t major, uint32_t minor, uint32_t build);

    int32_t deviceIndex = 0;
    uint32_t hPci = 0;
    uintptr_t regBase = 0;
    tagDeviceUpdate* job = nullptr;

private:
    RegisterBus& bus_;
    // The interpreter's vector blocks, allocated at the card's first play and kept for the next ones.
    XsvfBlocks blocks_;
};

// A new card object for the card's PCI record, with a copy of the options.
CQSeries* CreateCard(const tagPciInfo* info, const tagCmdLineOptions& cmdLine, int32_t index,
                     RegisterBus& bus);

// Starts a thread that runs the card's Update on the job and detaches it at once. False when no thread could
// be started; the job is then finished with kUpdateCardUnusable.
bool StartCardWorker(CDevBase* card, tagDeviceUpdate* job);

// The run's view of all jobs: the sum of their progress divided by the card count. It reaches 100 only when
// every job is finished (a failed one included), since a running job shows at most 99.
uint32_t CombinedPercent(const tagDeviceUpdate* jobs, int32_t count);
// True when no job has a worker that is still running.
bool AllFinished(const tagDeviceUpdate* jobs, int32_t count);
