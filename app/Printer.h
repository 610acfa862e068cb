// The console-and-log printer: every message of the run goes to the console, is appended to the log file and
// is kept in the transcript that is carried across restarts.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>

#include "platform/Platform.h"

class CPrinter {
public:
    // Longest message, in characters, that reaches the log file and the transcript.
    static constexpr size_t kMaxLoggedChars = 1024;

    CPrinter(plat::Console& console, plat::FileSystem& files, plat::Environment& env);

    void SetLogPath(const std::wstring& path) { logPath_ = path; }
    const std::wstring& LogPath() const { return logPath_; }
    void SetLogSwitch(int on) { logSwitch_ = on; }

    // printf-style wide formats; use %ls for wide strings.
    void Print(const wchar_t* format, ...);
    void LogOnly(const wchar_t* format, ...);
    void PrintV(const wchar_t* format, va_list args, bool toConsole);

    // Console attributes the run uses around errors and warnings.
    static constexpr uint16_t kRed = 12;
    static constexpr uint16_t kNormal = 7;
    void SetColour(uint16_t attribute) { console_.SetTextAttribute(attribute); }
    void SetCursorVisible(bool visible) { console_.SetCursorVisible(visible); }

    std::wstring Transcript() const;

    // Formats like vswprintf into text of any length.
    static std::wstring FormatV(const wchar_t* format, va_list args);

private:
    void Emit(const std::wstring& message, bool toConsole);

    plat::Console& console_;
    plat::FileSystem& files_;
    plat::Environment& env_;
    std::wstring logPath_;
    int logSwitch_ = 1;
    mutable std::mutex lock_; // worker threads log too
    std::wstring transcript_;
};

// The log file's text form: narrow code page, each line feed written as CR LF.
std::string LogBytes(plat::Environment& env, const std::wstring& text);
