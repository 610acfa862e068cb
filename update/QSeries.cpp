#include "update/QSeries.h"

#include <system_error>
#include <thread>

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

FpgaVersion CQSeries::GetFpgaVersion() {
    // The card's I2C engine is not driven by this build, so the version cannot be read.
    return FpgaVersion{L"0.0.000", false};
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
