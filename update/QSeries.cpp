#include "update/QSeries.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>

#include "ExternalDeviceLayer/I2cEngine.h"
#include "update/JtagPort.h"
#include "update/XsvfPlayer.h"

int32_t CQSeries::Update(tagDeviceUpdate* updateJob) {
    SetPort(*updateJob, bus_, JtagLine::Tms, 1);
    const int32_t result = blocks_.Allocate() ? PlayXsvf(*updateJob, bus_, blocks_) : kXsvfOutOfMemory;
    updateJob->Finish(result); // the last access to the job, the card, its blocks and the stream
    return result;
}

bool CQSeries::VersionAllowsFlashImage(uint32_t major, uint32_t minor, uint32_t build) {
    if (major >= 2 && major <= 254)
        return true;
    return major == 1 && (minor > 6 || (minor == 6 && build >= 13));
}

FpgaVersion MakeFpgaVersion(uint32_t major, uint32_t minor, uint32_t build) {
    wchar_t text[40];
    std::swprintf(text, sizeof text / sizeof text[0], L"%u.%u.%u", major, minor, build);
    return FpgaVersion{text, CQSeries::VersionAllowsFlashImage(major, minor, build)};
}

namespace {

// Pieces of a display-library write: every piece goes to the same sub-address.
constexpr uint32_t kAdlWritePiece = 64;

// Fills an engine message to or from a slave's sub-address with the caller's `count` bytes.
void FillMessage(tagI2cMessage& message, uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress,
                 uint32_t count, const unsigned char* buffer) {
    message.slaveAddress = slaveAddress;
    message.subAddress = subAddress;
    message.subAddressWidth = subAddressWidth;
    message.data.SetCount(static_cast<int32_t>(count), -1);
    for (uint32_t i = 0; i < count; ++i)
        message.data[static_cast<int32_t>(i)] = buffer[i];
}

} // namespace

int CQSeries::I2cEngineAcquire() {
    if (UsesAdl() || !job)
        return 1;
    const tagRegWindow window{bus_, job->regBase, job->settleCount};
    return CI2cEngine(window).I2cEngineAcquire();
}

int CQSeries::I2cEngineRelease() {
    if (UsesAdl() || !job)
        return 1;
    const tagRegWindow window{bus_, job->regBase, job->settleCount};
    return CI2cEngine(window).I2cEngineRelease();
}

int CQSeries::I2cWrite(uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress, uint32_t count,
                       const unsigned char* buffer) {
    if (!job || (count > 0 && !buffer))
        return 0;
    if (UsesAdl()) {
        if (!adl)
            return 0;
        // Every piece is sent, even after one failed; the result says whether all went through.
        int result = 1;
        for (uint32_t done = 0; done < count; done += kAdlWritePiece) {
            const uint32_t piece = count - done < kAdlWritePiece ? count - done : kAdlWritePiece;
            result &= I2cAdlWrite(*adl, adlHooks, job->adlIndex, slaveAddress,
                                  static_cast<uint16_t>(subAddress), buffer + done, piece);
        }
        return result;
    }
    if (job->regBase == 0)
        return 0;
    tagI2cMessage message;
    FillMessage(message, slaveAddress, subAddressWidth, subAddress, count, buffer);
    const tagRegWindow window{bus_, job->regBase, job->settleCount};
    return CI2cEngine(window).I2cEngineWrite(message);
}

int CQSeries::I2cRead(uint32_t slaveAddress, uint32_t subAddressWidth, uint32_t subAddress, uint32_t count,
                      unsigned char* buffer) {
    if (!job || (count > 0 && !buffer))
        return 0;
    if (UsesAdl())
        return adl ? I2cAdlRead(*adl, adlHooks, job->adlIndex, slaveAddress,
                                static_cast<uint16_t>(subAddress), buffer, count)
                   : 0;
    if (job->regBase == 0)
        return 0;
    tagI2cMessage message;
    FillMessage(message, slaveAddress, subAddressWidth, subAddress, count, buffer);
    const tagRegWindow window{bus_, job->regBase, job->settleCount};
    const int result = CI2cEngine(window).I2cEngineRead(message);
    for (uint32_t i = 0; i < count; ++i)
        buffer[i] = message.data[static_cast<int32_t>(i)];
    return result;
}

FpgaVersion CQSeries::GetFpgaVersion() {
    // No register window: nothing can be read, and nothing is touched.
    if (!job || job->regBase == 0)
        return FpgaVersion{kUnreadFpgaVersion, false};
    const tagRegWindow window{bus_, job->regBase, job->settleCount};
    CI2cEngine engine(window);
    engine.I2cEngineAcquire();
    tagI2cMessage message;
    message.slaveAddress = kFpgaSlaves[0];
    message.subAddress = kFpgaVersionSubAddress;
    message.subAddressWidth = 1;
    message.data.SetCount(4, -1);
    engine.I2cEngineWrite(message);
    const int read = engine.I2cEngineRead(message);
    // The version is decided only on bytes that were read: a failed read shows the unread text.
    FpgaVersion version{kUnreadFpgaVersion, false};
    if (read)
        version = MakeFpgaVersion(message.data[3], message.data[2], message.data[1]);
    for (uint32_t slave : {kFpgaSlaves[1], kFpgaSlaves[2]}) {
        message.slaveAddress = slave;
        engine.I2cEngineRead(message);
    }
    engine.I2cEngineRelease();
    return version;
}

CQSeries* CreateCard(const tagPciInfo* info, const tagCmdLineOptions& cmdLine, int32_t index,
                     RegisterBus& bus) {
    CQSeries* card = new CQSeries(bus);
    card->cmdLine = cmdLine;
    card->deviceIndex = index;
    card->hPci = info->hPci;
    card->regBase = info->regBase;
    return card;
}

bool StartCardWorker(CDevBase* card, tagDeviceUpdate* job) {
    try {
        std::thread([card, job] { card->Update(job); }).detach();
        return true;
    } catch (const std::system_error&) {
        job->Finish(kUpdateCardUnusable);
        return false;
    }
}

namespace {

// The job as the flash writer sees it: progress below 100, the route's order of the slaves.
class CJobProgress final : public CFlashProgress {
public:
    explicit CJobProgress(tagDeviceUpdate& job) : job_(job) {}
    void SetPercent(uint32_t percent) override { job_.SetPercent(std::min(percent, kRunningPercentLimit)); }
    bool SlaveBySlave() const override { return job_.adlIndex == 0; }

private:
    tagDeviceUpdate& job_;
};

} // namespace

bool StartFlashWorker(CQSeries* card, tagDeviceUpdate* job, plat::FileSystem& files,
                      const std::string& imagePath) {
    job->settleCount.store(0);
    try {
        std::thread([card, job, &files, imagePath] {
            int ok = 0;
            {
                CFlashSpi flash(*card, files);
                CJobProgress progress(*job);
                ok = flash.Program(imagePath, 0, &progress);
            }
            // The last act: the job is the run's again.
            job->Finish(ok ? kUpdateSuccess : kUpdateFlashWriteFailed);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        job->Finish(kUpdateCardUnusable);
        return false;
    }
}

uint32_t CombinedPercent(const tagDeviceUpdate* jobs, int32_t count) {
    if (count <= 0)
        return 100;
    uint64_t sum = 0;
    for (int32_t i = 0; i < count; ++i)
        sum += jobs[i].Percent();
    return static_cast<uint32_t>(sum / static_cast<uint64_t>(count));
}

bool AllFinished(const tagDeviceUpdate* jobs, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (!jobs[i].Finished())
            return false;
    }
    return true;
}
