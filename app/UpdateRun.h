// One update run from start to end: options, log, start-up, update files, and every way it ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ExternalDeviceLayer/PciScan.h"
#include "ExternalDeviceLayer/VskLibrary.h"
#include "app/CmdLine.h"
#include "app/Printer.h"
#include "platform/Platform.h"
#include "system/PowerSettings.h"
#include "update/DeviceUpdate.h"
#include "update/QSeries.h"

class CUpdateRun {
public:
    static constexpr const wchar_t* kProductName = L"Veskora Q740 Firmware Update Utility - Version";
    static constexpr int kVersion[4] = {2, 0, 3, 1};
    static constexpr uint32_t kDefaultI2cSpeedKhz = 800;
    static constexpr uint32_t kTestDelayMs = 60000;
    static constexpr int32_t kMaxCards = 32;
    static constexpr const wchar_t* kProgramKey = L"SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
    static constexpr const wchar_t* kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    static constexpr const wchar_t* kRunOnceValue = L"VskQ740FwUpdater";

    explicit CUpdateRun(plat::Platform& platform);
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // Carries the run out and returns its exit code. Parse errors and help end the process inside.
    int Run(int argc, char** argv);

    // Start-up pieces, in the order the run calls them.
    void PrepareLogPath();
    void WaitTestDelay();
    void WriteLogHeader();
    void PrintBanner();

    // Reads the update file named by the options (and the flash image beside it) and checks both against
    // their digest files. cardCount fills the corrupt-file message.
    void CheckUpdateFiles(int cardCount);

    // Decides between the flash image and the XSVF stream and lists the cards.
    void ChoosePathAndListCards();
    // One card object and one job per card, ports claimed when there is a stream to play.
    void PrepareCards(bool list);
    // After the listing: the update itself, then the end of the run.
    int UpdatePhase();

    // Pieces of the update phase.
    static int XsvfEstimateMinutes(uint32_t largestSettleCount);
    int EstimateMinutes() const;
    void PrintWarningBox();
    // The y/n prompt; true when the user goes on. The end of the input counts as 'n'.
    bool AskToContinue();
    // The repeated-update test's chance to stop: true when a space was pressed within 5 seconds.
    bool TestAborted();
    void StartWorkers();
    void ShowProgress();
    void CollectResults();
    void ReportResults();

    // The end of a run after an update attempt: the resume values go, then the common steps.
    int FinishAfterUpdate();
    // The common end of every run that is not a final pass; returns the exit code.
    int FinishRun();
    // Frees what the run holds; safe to call twice and from the control handler's thread.
    void CleanUp();

    static std::wstring ProgramDirectory(const std::wstring& modulePath);
    static std::wstring FormatLogTime(const plat::LocalTime& time);

    CPrinter& Printer() { return printer_; }
    const CCmdLine& Options() const { return options_; }
    int Result() const { return result_; }
    const std::vector<uint8_t>& UpdateBuffer() const { return updateBuffer_; }
    bool XsvfPath() const { return xsvfPath_; }
    bool ImageVerified() const { return imageVerified_; }
    uint32_t I2cSpeedKhz() const { return i2cSpeedKhz_; }
    const std::wstring& ProgramDir() const { return programDir_; }
    int32_t CardCount() const { return cardCount_; }
    tagDeviceUpdate* Jobs() { return jobs_.get(); }
    uint32_t LargestSettleCount() const { return largestSettle_; }
    void SetOptions(const CCmdLine& options) { options_ = options; }

private:
    void GuardConsoleWindow();
    void BuildTemporaryPaths();
    bool InitHardwareAccess();
    int EndEarly(const wchar_t* message, bool red);

    plat::Platform& platform_;
    CPrinter printer_;
    CPowerSettings power_;
    CCmdLine options_;
    std::wstring programDir_;
    std::wstring tempFolder_;
    std::wstring lumoExportPath_;
    std::wstring devconPath_;
    bool wow64_ = false;

    std::vector<uint8_t> updateBuffer_;
    const char* updateFileName_ = nullptr;
    uint32_t i2cSpeedKhz_ = kDefaultI2cSpeedKhz;
    bool xsvfPath_ = false;
    bool imageVerified_ = false;
    bool restartInitiated_ = false;
    bool adlMode_ = false;
    int result_ = 1;

    std::unique_ptr<CVskLibrary> service_;
    std::unique_ptr<CPciScan> scan_;
    int32_t cardCount_ = 0;
    std::vector<std::unique_ptr<CQSeries>> cards_;
    std::unique_ptr<tagDeviceUpdate[]> jobs_;
    uint32_t largestSettle_ = 0;
    bool workersStarted_ = false;
    uint64_t updateStartMs_ = 0;

    // The console window the keep-in-front thread brings forward; 0 ends that thread.
    std::shared_ptr<std::atomic<uintptr_t>> rememberedWindow_;
    std::thread keepInFront_;
    std::mutex cleanUpLock_;
};

// Runs the program and returns its exit code.
int RunUpdater(plat::Platform& platform, int argc, char** argv);
