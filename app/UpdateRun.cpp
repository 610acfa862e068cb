#include "app/UpdateRun.h"

#include <thread>

#include "update/JtagPort.h"
#include "update/UpdateFiles.h"

namespace {

constexpr uint32_t kTestDelayStepMs = 10;
constexpr uint32_t kKeepInFrontPeriodMs = 200;

// The calibration spinner, drawn straight on the console: it is no part of the log or the transcript.
CalibrationProgress ConsoleSpinner(plat::Console& console) {
    return [&console](uint32_t done, uint32_t total) {
        static const wchar_t* const kSteps[] = {L"\b|", L"\b/", L"\b-", L"\b\\"};
        if (done == 0) {
            console.Write(L" ");
            return;
        }
        console.Write(kSteps[(done - 1) % 4]);
        if (done == total)
            console.Write(L"\b");
    };
}

} // namespace

CUpdateRun::CUpdateRun(plat::Platform& platform)
    : platform_(platform), printer_(*platform.console, *platform.files, *platform.env),
      power_(*platform.console, *platform.power, *platform.processes),
      rememberedWindow_(std::make_shared<std::atomic<uintptr_t>>(0)) {}

CUpdateRun::~CUpdateRun() {
    CleanUp();
}

std::wstring CUpdateRun::ProgramDirectory(const std::wstring& modulePath) {
    // Everything up to and including the last backslash, so a renamed program still finds its folder.
    const size_t slash = modulePath.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1);
}

std::wstring CUpdateRun::FormatLogTime(const plat::LocalTime& t) {
    // Day-month-year and a 12-hour clock without an AM/PM marker.
    int hour12 = t.hour % 12;
    if (hour12 == 0)
        hour12 = 12;
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"%02d-%02d-%04d %02d:%02d:%02d", t.day, t.month,
                  t.year, hour12, t.minute, t.second);
    return text;
}

void CUpdateRun::PrepareLogPath() {
    programDir_ = ProgramDirectory(platform_.env->ModulePath());
    std::wstring path;
    platform_.env->GetVariable(L"LOCALAPPDATA", path);
    path += L"\\Veskora";
    platform_.files->MakeDirectory(path);
    path += L"\\VskQ740FwUpdater";
    platform_.files->MakeDirectory(path);
    path += L"\\VskQ740FwUpdater.log";
    printer_.SetLogPath(path);
}

void CUpdateRun::WaitTestDelay() {
    if (options_.testCount == -1)
        options_.testCount = 0;
    const uint64_t start = platform_.clock->ProcessMilliseconds();
    while (platform_.clock->ProcessMilliseconds() - start < kTestDelayMs)
        platform_.clock->SleepMs(kTestDelayStepMs);
}

void CUpdateRun::WriteLogHeader() {
    const std::wstring now = FormatLogTime(platform_.clock->Now());
    printer_.LogOnly(L"\n===================\n%ls\n===================\n", now.c_str());
}

void CUpdateRun::GuardConsoleWindow() {
    rememberedWindow_->store(platform_.console->Window());
    // Installed last, so asked first: Ctrl+C, Ctrl+Break and closing the window do nothing.
    platform_.console->AddControlHandler([](uint32_t) { return true; });
    const uintptr_t window = rememberedWindow_->load();
    if (window)
        platform_.console->RemoveCloseFromMenu(window);
    keepInFront_ =
        std::thread([window = rememberedWindow_, console = platform_.console, clock = platform_.clock] {
            while (window->load() != 0) {
                clock->SleepMs(kKeepInFrontPeriodMs);
                const uintptr_t w = window->load();
                if (w)
                    console->BringToFront(w);
            }
        });
}

void CUpdateRun::PrintBanner() {
    printer_.SetLogSwitch(options_.logToFile);
    printer_.SetCursorVisible(false);
    printer_.Print(L"%ls %d.%d.%d.%d\n", kProductName, kVersion[0], kVersion[1], kVersion[2], kVersion[3]);
    printer_.Print(L"\n\n");
}

void CUpdateRun::BuildTemporaryPaths() {
    wow64_ = platform_.env->IsWow64Process();
    tempFolder_ = platform_.env->TempPath();
    lumoExportPath_ = tempFolder_ + L"lvcfg.txt";
    devconPath_ = tempFolder_ + L"\\deq740.exe";
}

bool CUpdateRun::InitHardwareAccess() {
    service_ = std::make_unique<CVskLibrary>(platform_);
    return service_->InitVSKLibrary() != 0;
}

void CUpdateRun::PrepareCards(bool list) {
    const CMArray<tagPciInfo>& records = *scan_->records;
    cards_.clear();
    jobs_.reset(new tagDeviceUpdate[static_cast<size_t>(cardCount_)]);
    largestSettle_ = 0;
    for (int32_t i = 0; i < cardCount_; ++i) {
        const tagPciInfo& info = records[i];
        tagDeviceUpdate& job = jobs_[static_cast<size_t>(i)];
        job.hPci = info.hPci;
        job.regBase = info.regBase;
        job.portMode.store(xsvfPath_ && !imageVerified_ ? kPortCalibrated : kPortFixedSettle);
        job.settleCount.store(kDefaultSettleCount);
        job.adlIndex = -1;
        if (!updateBuffer_.empty()) {
            job.stream = updateBuffer_.data();
            job.streamSize = static_cast<uint32_t>(updateBuffer_.size());
            // A card whose window could not be mapped is never driven; its update fails at once.
            if (job.regBase != 0)
                InitJtagPort(job, *service_, *platform_.clock, ConsoleSpinner(*platform_.console));
        }
        cards_.emplace_back(CreateCard(&info, options_, i, *service_));
        cards_.back()->job = &job;
        if (job.settleCount.load() > largestSettle_)
            largestSettle_ = job.settleCount.load();
    }
    if (list)
        printer_.Print(L"   Found %d Veskora Q740 graphics card%ls:\n", cardCount_,
                       cardCount_ == 1 ? L"" : L"s");
    for (int32_t i = 0; i < cardCount_; ++i) {
        const FpgaVersion version = cards_[static_cast<size_t>(i)]->GetFpgaVersion();
        if (!version.allowsFlashImage)
            imageVerified_ = false;
        if (list) {
            const tagPciInfo& info = records[i];
            printer_.Print(L" PCIe Bus: 0x%02X%X%X   FPGA version: ", info.bus, info.device, info.function);
            printer_.Print(L"%ls\n", version.text.c_str());
        }
    }
}

void CUpdateRun::ChoosePathAndListCards() {
    // Without the display library the flash image cannot be carried to the cards yet, so every pass ends
    // on the XSVF stream: the first pass without the stream only reads the versions, the second lists.
    for (int pass = 0; pass < 2; ++pass) {
        const bool list = xsvfPath_;
        PrepareCards(list);
        if (list)
            return;
        xsvfPath_ = true;
    }
}

int CUpdateRun::FinishAfterUpdate() {
    if (!restartInitiated_) {
        platform_.registry->DeleteValue(kRunOnceKey, kRunOnceValue);
        platform_.registry->DeleteValue(kProgramKey, L"Config");
    }
    return FinishRun();
}

void CUpdateRun::CheckUpdateFiles(int cardCount) {
    updateFileName_ = options_.flashFile;
    if (options_.testCount > 0 && options_.testFlashFile && (options_.testCount % 2) != 0)
        updateFileName_ = options_.testFlashFile;
    if (!updateFileName_)
        return;
    plat::FileSystem& files = *platform_.files;
    if (options_.forceXsvf) {
        xsvfPath_ = true;
    } else {
        const FlashImageCheck image = CheckFlashImage(files, updateFileName_);
        if (!image.found)
            xsvfPath_ = true;
        else if (image.verified)
            imageVerified_ = true;
    }
    const UpdateFileStatus check = CheckUpdateFile(files, updateFileName_, updateBuffer_);
    if (check == UpdateFileStatus::CannotOpen) {
        // Straight to the console, not logged.
        platform_.console->WriteNarrow(std::string("Error: Unable to open file ") + updateFileName_);
        platform_.console->WriteNarrow("\n");
        updateBuffer_.clear();
        result_ = 2;
        return;
    }
    if (check == UpdateFileStatus::Corrupt) {
        const std::wstring name = platform_.env->ToWide(updateFileName_);
        printer_.Print(L"\nError: %ls is corrupt and cannot be used to update your Veskora Q740 graphics "
                       L"card%ls.\n\n",
                       name.c_str(), cardCount != 1 ? L"s" : L"");
        updateBuffer_.clear();
        imageVerified_ = false;
    }
    result_ = 0;
}

void CUpdateRun::CleanUp() {
    std::lock_guard<std::mutex> guard(cleanUpLock_);
    rememberedWindow_->store(0);
    // The keep-in-front loop sees the cleared window within one period; wait for it so that it never
    // touches the console after the run is gone.
    if (keepInFront_.joinable() && keepInFront_.get_id() != std::this_thread::get_id())
        keepInFront_.join();
    printer_.SetCursorVisible(true);
    // The PCI records go; their windows are left mapped until the process ends.
    if (scan_ && scan_->records)
        scan_->records->SetCount(0, -1);
    // Workers still running (the control handler ends the process during an update) keep their card,
    // job and stream until the process is gone.
    const bool workersBusy = workersStarted_ && jobs_ && CombinedPercent(jobs_.get(), cardCount_) < 100;
    if (!workersBusy) {
        updateBuffer_.clear();
        updateBuffer_.shrink_to_fit();
        cards_.clear();
        jobs_.reset();
    }
}

int CUpdateRun::FinishRun() {
    if (!restartInitiated_)
        power_.RestorePowerSettings();
    CleanUp();
    if (!options_.quiet && !restartInitiated_) {
        printer_.Print(L"\n\nPress any key to exit...\n");
        platform_.console->ReadKey();
    }
    return result_;
}

int CUpdateRun::EndEarly(const wchar_t* message, bool red) {
    if (red)
        printer_.SetColour(CPrinter::kRed);
    printer_.Print(L"%ls", message);
    if (red)
        printer_.SetColour(CPrinter::kNormal);
    return FinishRun();
}

int CUpdateRun::Run(int argc, char** argv) {
    PrepareLogPath();
    options_.Parse(argc, argv, *platform_.console, *platform_.processes);
    if (options_.testCount != 0)
        WaitTestDelay();
    if (options_.i2cSpeedKhz != 0)
        i2cSpeedKhz_ = options_.i2cSpeedKhz;
    const plat::WindowsVersion version = platform_.env->Version();
    if (version.major == 6 && (version.minor == 0 || version.minor == 1))
        options_.forceXsvf = 1;
    WriteLogHeader();
    // The power handler puts the machine's settings back, frees what the run holds and ends with code 1.
    power_.ApplyUpdatePowerSettings([this] { CleanUp(); });
    result_ = 1;
    if (options_.testCount < 1)
        GuardConsoleWindow();
    PrintBanner();
    BuildTemporaryPaths();
    if (!InitHardwareAccess())
        return EndEarly(L"ERROR: InitVSKLibrary failed.", true);
    scan_ = std::make_unique<CPciScan>(*service_);
    if (!scan_->Scan())
        return EndEarly(L"   No Veskora Q740 graphics cards found.", false);
    if (scan_->count > kMaxCards)
        return EndEarly(L"ERROR: More than 32 Veskora Q740 graphics cards found.", true);
    cardCount_ = scan_->count;
    if (options_.flashFile)
        CheckUpdateFiles(cardCount_);
    ChoosePathAndListCards();
    return UpdatePhase();
}

int RunUpdater(plat::Platform& platform, int argc, char** argv) {
    CUpdateRun run(platform);
    return run.Run(argc, argv);
}
