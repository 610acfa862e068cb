#include "app/stages/StartUp.h"

#include <cwchar>

namespace {

constexpr uint32_t kTestDelayStepMs = 10;

} // namespace

std::wstring ProgramDirectory(const std::wstring& modulePath) {
    // Everything up to and including the last backslash, so a renamed program still finds its folder.
    const size_t slash = modulePath.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1);
}

std::wstring FormatLogTime(const plat::LocalTime& t) {
    // Day-month-year and a 12-hour clock without an AM/PM marker.
    int hour12 = t.hour % 12;
    if (hour12 == 0)
        hour12 = 12;
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"%02d-%02d-%04d %02d:%02d:%02d", t.day, t.month,
                  t.year, hour12, t.minute, t.second);
    return text;
}

std::wstring PrepareLogPath(plat::Platform& platform, CPrinter& printer) {
    const std::wstring programDir = ProgramDirectory(platform.env->ModulePath());
    std::wstring path;
    platform.env->GetVariable(L"LOCALAPPDATA", path);
    path += L"\\Veskora";
    platform.files->MakeDirectory(path);
    path += L"\\VskQ740FwUpdater";
    platform.files->MakeDirectory(path);
    path += L"\\VskQ740FwUpdater.log";
    printer.SetLogPath(path);
    return programDir;
}

void WaitTestDelay(plat::Clock& clock, tagCmdLineOptions& options) {
    if (options.testCount == -1)
        options.testCount = 0;
    const uint64_t start = clock.ProcessMilliseconds();
    while (clock.ProcessMilliseconds() - start < kTestDelayMs)
        clock.SleepMs(kTestDelayStepMs);
}

bool WindowsForcesXsvf(const plat::WindowsVersion& version) {
    return version.major == 6 && (version.minor == 0 || version.minor == 1);
}

void WriteLogHeader(plat::Clock& clock, CPrinter& printer) {
    const std::wstring now = FormatLogTime(clock.Now());
    printer.LogOnly(L"\n===================\n%ls\n===================\n", now.c_str());
}

void PrintBanner(CPrinter& printer, const tagCmdLineOptions& options) {
    printer.SetLogSwitch(options.logToFile);
    printer.SetCursorVisible(false);
    printer.Print(L"%ls %d.%d.%d.%d\n", kProductName, kProductVersion[0], kProductVersion[1],
                  kProductVersion[2], kProductVersion[3]);
    printer.Print(L"\n\n");
}

tagTemporaryPaths BuildTemporaryPaths(plat::Environment& env) {
    tagTemporaryPaths paths;
    paths.wow64 = env.IsWow64Process();
    paths.tempFolder = env.TempPath();
    paths.lumoExportPath = paths.tempFolder + L"lvcfg.txt";
    paths.devconPath = paths.tempFolder + L"\\deq740.exe";
    return paths;
}
