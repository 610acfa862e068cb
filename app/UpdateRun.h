// One update run from start to end, as a sequencer of stages (app/stages): start-up, the cards found, the
// update file checked, the path chosen and the cards listed, the update phase, and the end. Each stage
// takes a narrow input and gives its outcome; only the run decides how a run ends. The run owns what lives
// for the whole run (options, printer, power settings, the service, the cards and their jobs) and frees it
// in its clean-up.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ExternalDeviceLayer/PciScan.h"
#include "ExternalDeviceLayer/VskLibrary.h"
#include "app/CmdLine.h"
#include "app/ConsoleGuard.h"
#include "app/Printer.h"
#include "app/ResumeState.h"
#include "app/stages/PathChoice.h"
#include "app/stages/RunEnd.h"
#include "app/stages/StartUp.h"
#include "app/stages/SystemParts.h"
#include "app/stages/UpdateFileCheck.h"
#include "platform/Platform.h"
#include "system/ChildProcesses.h"
#include "system/DesktopManager.h"
#include "system/DisplayDriver.h"
#include "system/PowerSettings.h"

class CUpdateRun {
public:
    // One updater at a time on the machine: the machine-wide mutex held for the whole run, and the exit code
    // of a run that found it held (ERROR_ALREADY_EXISTS, a code that no other outcome of a run has).
    static constexpr const wchar_t* kInstanceMutexName = L"Global\\VskQ740FwUpdaterInstance";
    static constexpr int kAnotherInstanceExitCode = 183;

    explicit CUpdateRun(plat::Platform& platform);
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // Carries the run out and returns its exit code. Parse errors and help end the process inside.
    int Run(int argc, char** argv);

    const CCmdLine& Options() const { return options_; }

private:
    // Takes the machine-wide single-instance mutex; false when another updater holds it (or it cannot be
    // had), after telling the user so.
    bool TakeInstanceLock();
    // Ends the run early with a message (red for errors), without an update attempt.
    int EndEarly(const wchar_t* message, bool red);
    int End(bool afterUpdate);
    // The command line RunOnce starts (see RegisteredCommandLine).
    std::wstring RegisteredCommand(int nextTestCount);
    // For the control handler: notes the event, and answers whether the run ends itself (workers write to
    // the cards) rather than the handler ending the process at once.
    bool RunEndsItself();
    // The end a console control event asks for: the power values back, the clean-up, exit code 1.
    int EndOnControlEvent();
    // Lets every card's JTAG lines go without success (nothing was written).
    void ReleaseCards();
    // Frees what the run holds; safe to call twice and from the control handler's thread.
    void CleanUp();

    plat::Platform& platform_;
    plat::NamedMutex instance_;
    std::optional<plat::NamedMutex::Lock> instanceLock_; // released before the mutex closes
    CPrinter printer_;
    CPowerSettings power_;
    CConsoleGuard consoleGuard_;
    CChildProcesses children_;
    CDisplayDriver driver_;
    CDesktopManager lumo_;
    CResumeState resume_;
    tagSystemParts parts_;
    CCmdLine options_;
    std::wstring programDir_;
    tagTemporaryPaths tempPaths_;

    bool restartInitiated_ = false;
    bool adlMode_ = false;
    int result_ = 1;

    std::unique_ptr<CVskLibrary> service_;
    std::unique_ptr<CPciScan> scan_;
    int32_t cardCount_ = 0;
    tagUpdateFiles files_;
    bool xsvfPath_ = false;
    bool imageVerified_ = false;
    tagCardSet cards_;
    std::atomic<bool> workersStarted_{false};
    std::atomic<bool> stopRequested_{false}; // a console control event left the ending to the run
    std::mutex cleanUpLock_;
};

// Runs the program and returns its exit code.
int RunUpdater(plat::Platform& platform, int argc, char** argv);
