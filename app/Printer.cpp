#include "app/Printer.h"

#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t kBackspace = 8;
constexpr size_t kLargestFormat = size_t{1} << 20;

} // namespace

CPrinter::CPrinter(plat::Console& console, plat::FileSystem& files, plat::Environment& env)
    : console_(console), files_(files), env_(env) {}

std::wstring CPrinter::FormatV(const wchar_t* format, va_list args) {
    std::vector<wchar_t> buffer(kMaxLoggedChars + 1);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        // vswprintf fails both when the buffer is short and on a format it cannot convert; stop growing at a
        // bound so that the second case cannot loop forever.
        if (buffer.size() >= kLargestFormat)
            return std::wstring();
        buffer.assign(buffer.size() * 4, L'\0');
    }
}

void CPrinter::Print(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    PrintV(format, args, true);
    va_end(args);
}

void CPrinter::LogOnly(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    PrintV(format, args, false);
    va_end(args);
}

void CPrinter::PrintV(const wchar_t* format, va_list args, bool toConsole) {
    Emit(FormatV(format, args), toConsole);
}

void CPrinter::Emit(const std::wstring& message, bool toConsole) {
    std::lock_guard<std::mutex> guard(lock_);
    if (toConsole)
        console_.Write(message);
    if (!logSwitch_)
        return;
    // The log and the transcript see at most the first kMaxLoggedChars characters. A backspace becomes a
    // blank in the log and takes back the last transcript character, so that the transcript holds the text
    // as it finally stood on the screen.
    std::wstring logged = message.substr(0, kMaxLoggedChars);
    for (wchar_t& c : logged) {
        if (c == kBackspace) {
            c = L' ';
            if (!transcript_.empty())
                transcript_.pop_back();
        } else {
            transcript_.push_back(c);
        }
    }
    files_.Append(logPath_, LogBytes(env_, logged));
}

std::wstring CPrinter::Transcript() const {
    std::lock_guard<std::mutex> guard(lock_);
    return transcript_;
}

std::string LogBytes(plat::Environment& env, const std::wstring& text) {
    std::wstring withCrLf;
    withCrLf.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n')
            withCrLf.push_back(L'\r');
        withCrLf.push_back(c);
    }
    return env.ToNarrow(withCrLf);
}
