// The card objects: CDevBase, the abstract card device, and CQSeries, one Veskora Q740 with its XSVF worker.
#pragma once

#include <cstdint>
#include <string>

#include "ExternalDeviceLayer/AdlI2c.h"
#include "ExternalDeviceLayer/FlashSpi.h"
#include "ExternalDeviceLayer/I2cPort.h"
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

// The FPGA's I2C slaves and the sub-address of its version block.
constexpr uint32_t kFpgaSlaves[3] = {0xD0, 0xD2, 0xD4};
constexpr uint32_t kFpgaVersionSubAddress = 4;
// The text of a version that could not be read through the card's engine.
constexpr const wchar_t* kUnreadFpgaVersion = L"0.0.000";

// "major.minor.build" in unpadded decimal, with the flag of VersionAllowsFlashImage.
FpgaVersion MakeFpgaVersion(uint32_t major, uint32_t minor, uint32_t build);

class CQSeries : public CDevBase, public CI2cPort {
public:
    explicit CQSeries(RegisterBus& bus) : bus_(bus) {}

    // The XSVF worker: plays the job's stream into the card's FPGA, then finishes the job (result, then 100
    // percent) as its very last act, whatever the stream held after its last command.
    int32_t Update(tagDeviceUpdate* job) override;
    // Reads the FPGA version over the card's I2C engine (acquiring and releasing it); "0.0.000" when it
    // cannot be read.
    virtual FpgaVersion GetFpgaVersion();

    // I2C transfers to the FPGA's slaves: through the display library when the job has an adapter index,
    // else through the card's engine, which the caller has acquired. A failed engine read leaves the bytes
    // not read as the caller had them.
    int I2cRead(uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress, uint32_t count,
                unsigned char* buffer) override;
    int I2cWrite(uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress, uint32_t count,
                 const unsigned char* buffer) override;
    // The card's engine; both do nothing (and return 1) when the job uses the display library.
    int I2cEngineAcquire() override;
    int I2cEngineRelease() override;

    static bool VersionAllowsFlashImage(uint32_t major, uint32_t minor, uint32_t build);

    int32_t deviceIndex = 0;
    uint32_t hPci = 0;
    uintptr_t regBase = 0;
    tagDeviceUpdate* job = nullptr;
    // The display library's I2C call and what its retries do; set by the run when it binds the library.
    CAdlI2cCall* adl = nullptr;
    tagAdlI2cHooks adlHooks;

private:
    bool UsesAdl() const { return job && job->adlIndex != -1; }

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

// Starts a detached thread that writes the flash image at `imagePath` into the card's flashes with a new
// CFlashSpi (address 0, progress in the job), then finishes the job: 0, or 99 when the image was not written
// and read back whole. The job's settle count is set to 0 first. False (the job finished with
// kUpdateCardUnusable) when no thread could be started.
bool StartFlashWorker(CQSeries* card, tagDeviceUpdate* job, plat::FileSystem& files,
                      const std::string& imagePath);

// The run's view of all jobs: the sum of their progress divided by the card count. It reaches 100 only when
// every job is finished (a failed one included), since a running job shows at most 99.
uint32_t CombinedPercent(const tagDeviceUpdate* jobs, int32_t count);
// True when no job has a worker that is still running.
bool AllFinished(const tagDeviceUpdate* jobs, int32_t count);
