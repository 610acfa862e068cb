#include "app/UpdateRun.h"

#include "ExternalDeviceLayer/I2cSettings.h"
#include "app/RegisteredCommandLine.h"
#include "app/stages/CardSearch.h"
#include "app/stages/DriverRestart.h"
#include "app/stages/DriverStep.h"
#include "app/stages/FinalPass.h"
#include "app/stages/UpdateFinish.h"
#include "app/stages/UpdatePhase.h"
#include "update/QSeries.h"

namespace {

// A 64-bit Windows build runs only on 64-bit Windows and is no WOW64 process there: it takes the 64-bit
// driver tool as the 32-bit program does on that Windows. (The native build simulates the 32-bit program.)
#if defined(_WIN32) && defined(_WIN64)
constexpr bool kWindows64BitBuild = true;
#else
constexpr bool kWindows64BitBuild = false;
#endif

} // namespace

CUpdateRun::CUpdateRun(plat::Platform& platform)
    : platform_(platform), printer_(*platform.console, *platform.files, *platform.env),
      power_(*platform.console, *platform.power, *platform.processes),
      consoleGuard_(*platform.console, *platform.clock), children_(*platform.processes),
      driver_(platform, children_, [this] { lumo_.Close(); }), lumo_(platform, children_),
      resume_(*platform.registry), parts_{
                                       children_,
                                       driver_,
                                       lumo_,
                                       resume_,
                                       power_,
                                       [this](int nextTestCount) { return RegisteredCommand(nextTestCount); },
                                       [this] { consoleGuard_.Stop(); }},
      adlBinder_(*platform.libraries, *platform.env), adl_{adlBinder_,
                                                           {[this](const wchar_t* text) {
                                                                printer_.LogOnly(L"%ls", text);
                                                            },
                                                            [this] { lumo_.Close(); }}} {
    I2cSettings().speedKhz.store(kDefaultI2cSpeedKhz);
    I2cSettings().retryCount.store(0);
}

std::wstring CUpdateRun::RegisteredCommand(int nextTestCount) {
    plat::FileSystem& files = *platform_.files;
    return RegisteredCommandLine(
        platform_.env->CommandLine(), platform_.env->ModulePath(),
        [&files](const std::wstring& path) { return files.FullPath(path); }, nextTestCount);
}

bool CUpdateRun::RunEndsItself() {
    stopRequested_.store(true);
    return workersStarted_.load();
}

int CUpdateRun::EndOnControlEvent() {
    // The workers are done, so the cards get their display driver back as after any update.
    if (driver_.DriverDisabled())
        driver_.EnableDisplayDriver();
    power_.RestorePowerSettings();
    CleanUp();
    return 1;
}

void CUpdateRun::CleanUpBeforeExit() {
    std::lock_guard<std::mutex> guard(cleanUpLock_);
    consoleGuard_.Stop();
    printer_.SetCursorVisible(true);
    // The main thread goes on until the process ends and may still read the records, the cards, their
    // jobs and the stream (listing, the prompt or the test's wait, closing the ports): they go with the
    // process.
}

CUpdateRun::~CUpdateRun() {
    CleanUp();
}

void CUpdateRun::CleanUp() {
    std::lock_guard<std::mutex> guard(cleanUpLock_);
    consoleGuard_.Stop();
    printer_.SetCursorVisible(true);
    // The PCI records go; their windows are left mapped until the process ends.
    if (scan_ && scan_->records)
        scan_->records->SetCount(0, -1);
    // Workers still running (the control handler ends the process during an update) keep their card,
    // job and stream until the process is gone. The run itself ends only once every worker has finished.
    const bool workersBusy =
        workersStarted_.load() && cards_.jobs && !AllFinished(cards_.jobs.get(), cards_.count);
    if (!workersBusy) {
        files_.stream.clear();
        files_.stream.shrink_to_fit();
        cards_.cards.clear();
        cards_.jobs.reset();
    }
}

bool CUpdateRun::TakeInstanceLock() {
    instance_ = platform_.namedObjects->CreateNamedMutex(kInstanceMutexName);
    instanceLock_.emplace(instance_.Wait(0));
    // A mutex abandoned by an updater that ended without releasing it is owned now: the run goes on.
    if (instanceLock_->Result() == plat::NamedMutex::WaitResult::Acquired ||
        instanceLock_->Result() == plat::NamedMutex::WaitResult::Abandoned)
        return true;
    // Console only: the log file belongs to the run that holds the cards.
    plat::Console& console = *platform_.console;
    console.SetTextAttribute(CPrinter::kRed);
    console.Write(L"ERROR: Another VskQ740FwUpdater is already running.");
    console.SetTextAttribute(CPrinter::kNormal);
    if (options_.quiet == 0) {
        console.Write(L"\n\nPress any key to exit...\n");
        console.ReadKey();
    }
    return false;
}

void CUpdateRun::ReleaseCards() {
    if (!cards_.jobs)
        return;
    for (int32_t i = 0; i < cards_.count; ++i) {
        tagDeviceUpdate& job = cards_.jobs[static_cast<size_t>(i)];
        if (job.regBase != 0 && job.streamSize > 0)
            CloseJtagPort(job, *service_, *platform_.clock, false);
    }
}

int CUpdateRun::End(bool afterUpdate) {
    tagRunEnd end;
    end.result = result_;
    end.afterUpdate = afterUpdate;
    end.restartInitiated = power_.RestartInitiated();
    end.quiet = options_.quiet != 0;
    return EndRun(end, platform_, printer_, parts_, [this] { CleanUp(); });
}

int CUpdateRun::EndEarly(const wchar_t* message, bool red) {
    if (red)
        printer_.SetColour(CPrinter::kRed);
    printer_.Print(L"%ls", message);
    if (red)
        printer_.SetColour(CPrinter::kNormal);
    return End(false);
}

int CUpdateRun::Run(int argc, char** argv) {
    // Start-up.
    programDir_ = PrepareLogPath(platform_, printer_);
    options_.Parse(argc, argv, *platform_.console, *platform_.processes);
    // Before anything of the machine is touched (registry, power, service, cards): two updaters would play
    // their streams into the same cards' JTAG lines at once.
    if (!TakeInstanceLock())
        return kAnotherInstanceExitCode;
    if (options_.testCount != 0)
        WaitTestDelay(*platform_.clock, options_);
    if (options_.i2cSpeedKhz != 0)
        I2cSettings().speedKhz.store(options_.i2cSpeedKhz);
    children_.CreatePipe();
    if (WindowsForcesXsvf(platform_.env->Version()))
        options_.forceXsvf = 1;
    WriteLogHeader(*platform_.clock, printer_);
    tempPaths_ = BuildTemporaryPaths(*platform_.env);
    lumo_.BuildPaths(tempPaths_.tempFolder);
    std::wstring transcript;
    if (resume_.ReadLog(transcript)) {
        const int code = RunFinalPass(platform_, printer_, parts_, adl_, options_, transcript);
        CleanUp();
        return code;
    }
    // A control event that reaches the power handler puts the machine's settings back and ends the process
    // with code 1. Once workers write to the cards the run does that itself when they are done, so that no
    // card is left half written and nothing is freed under a running thread. Before that the handler frees
    // nothing either: the main thread runs on until the process ends. In an ordinary run the console guard
    // takes every event first.
    power_.ApplyUpdatePowerSettings([this] { CleanUpBeforeExit(); }, [this] { return RunEndsItself(); });
    result_ = 1;
    if (options_.testCount < 1)
        consoleGuard_.Start();
    PrintBanner(printer_, options_);
    driver_.ExtractDevCon(tempPaths_.devconPath, tempPaths_.wow64 || kWindows64BitBuild);

    // The cards.
    tagFoundCards found = FindCards(platform_);
    service_ = std::move(found.service);
    scan_ = std::move(found.scan);
    switch (found.outcome) {
    case tagFoundCards::Outcome::ServiceFailed:
        return EndEarly(L"ERROR: InitVSKLibrary failed.", true);
    case tagFoundCards::Outcome::NoCards:
        return EndEarly(L"   No Veskora Q740 graphics cards found.", false);
    case tagFoundCards::Outcome::TooManyCards:
        return EndEarly(L"ERROR: More than 32 Veskora Q740 graphics cards found.", true);
    case tagFoundCards::Outcome::Found:
        break;
    }
    cardCount_ = found.count;

    // The update files, the desktop manager's settings, the path and the listing.
    if (options_.flashFile) {
        files_ = CheckUpdateFiles(platform_, printer_, options_, cardCount_);
        result_ = files_.result;
    }
    SaveDesktopSettings(parts_);
    tagPathChoiceInput pathInput{*scan_->records, cardCount_,      *service_,           options_,
                                 files_.stream,   files_.xsvfPath, files_.imageVerified};
    pathInput.beforeListing = [this](bool adlCarriesImage) {
        TakeDriverOffCards(parts_, {!files_.stream.empty(), adlCarriesImage});
    };
    pathInput.adl = &adl_;
    pathInput.closeDesktopManager = [this] { lumo_.Close(); };
    tagPathChoice choice = ChoosePathAndListCards(platform_, printer_, pathInput);
    cards_ = std::move(choice.cards);
    xsvfPath_ = choice.xsvfPath;
    imageVerified_ = choice.imageVerified;
    adlMode_ = choice.adlMode;

    // A driver that goes only after a restart.
    const tagDriverRestartOutcome restart =
        HandleDriverRestart(platform_, printer_, parts_, options_, [this] { ReleaseCards(); });
    if (restart.next == tagDriverRestartOutcome::Next::Restarted)
        return 0;
    if (restart.next == tagDriverRestartOutcome::Next::EndEarly) {
        if (restart.result >= 0)
            result_ = restart.result;
        return End(false);
    }

    // The update.
    tagUpdatePhaseInput phase{cards_,    *service_,      options_, files_.fileName, !files_.stream.empty(),
                              xsvfPath_, imageVerified_, adlMode_, workersStarted_, stopRequested_};
    phase.beforeWorkers = [this] {
        // The test's next run starts with the count one lower, after the restart that follows this update.
        if (options_.testCount > 0)
            resume_.WriteRunOnce(RegisteredCommand(options_.testCount - 1));
        lumo_.Close();
    };
    phase.unbindAdl = [this] { adlBinder_.Unbind(); };
    const tagUpdatePhaseOutcome outcome = CUpdatePhase(platform_, printer_, phase).Run();
    // Without workers nothing goes through the display library any more: it and its context go.
    if (!outcome.updated)
        adlBinder_.Unbind();
    if (outcome.stopped || stopRequested_.load())
        return EndOnControlEvent();
    if (outcome.updated)
        result_ = outcome.result;
    if (outcome.updated)
        imageVerified_ = outcome.imageVerified;
    if (outcome.updated && outcome.result == 0 && imageVerified_ && adlMode_) {
        // The cards written through the display library are checked by the final pass after the restart.
        std::vector<int32_t> adapters;
        for (int32_t i = 0; i < cards_.count; ++i)
            adapters.push_back(cards_.jobs[static_cast<size_t>(i)].adlIndex);
        resume_.WriteValidate(adapters);
    }
    if (!outcome.updated && !outcome.aborted)
        return End(false); // nothing to write: the cards were only listed
    const tagUpdateFinishOutcome finish =
        FinishUpdate(printer_, parts_, options_, {outcome.aborted, imageVerified_ && adlMode_});
    if (finish.restarted) {
        CleanUp();
        return 0;
    }
    if (finish.enableNeedsReboot)
        result_ = 4;
    return End(true);
}

int RunUpdater(plat::Platform& platform, int argc, char** argv) {
    CUpdateRun run(platform);
    return run.Run(argc, argv);
}
