// Console on Win32. Standard output may be a console or redirected to a pipe or file (installers, scripts,
// tests). On a console, wide text goes through WriteConsoleW; redirected, it is written as the C runtime's
// text mode would: converted to the console output code page, each line feed written as CR LF. Narrow text
// goes out as bytes, with the same line-feed rule when redirected. Both kinds go to the same handle without
// buffering, so they stay in the order they were written.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

bool IsConsoleHandle(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != FALSE;
}

void WriteAllBytes(HANDLE h, const char* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(h, data, chunk, &written, nullptr) || written == 0) {
            return;
        }
        data += written;
        size -= written;
    }
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

std::string ToCodePage(const std::wstring& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), length, &out[0], size, nullptr, nullptr);
    return out;
}

// The control handlers live for the whole process: the system calls them on its own thread, possibly while
// the program is ending. One routine is registered with the system and asks ours, last installed first.
struct ControlHandlers {
    std::mutex lock;
    std::vector<std::function<bool(uint32_t)>> handlers;
    bool registered = false;
};

ControlHandlers& Handlers() {
    static ControlHandlers* handlers = new ControlHandlers; // never destroyed: used until the process ends
    return *handlers;
}

BOOL WINAPI DispatchControlEvent(DWORD event) {
    std::vector<std::function<bool(uint32_t)>> handlers;
    {
        std::lock_guard<std::mutex> guard(Handlers().lock);
        handlers = Handlers().handlers;
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if ((*it)(static_cast<uint32_t>(event))) {
            return TRUE;
        }
    }
    return FALSE;
}

class WinConsole final : public Console {
public:
    WinConsole()
        : out_(::GetStdHandle(STD_OUTPUT_HANDLE)), in_(::GetStdHandle(STD_INPUT_HANDLE)),
          outIsConsole_(IsConsoleHandle(out_)), inIsConsole_(IsConsoleHandle(in_)) {}

    void Write(const std::wstring& text) override {
        std::lock_guard<std::mutex> guard(writeLock_);
        if (outIsConsole_) {
            const wchar_t* data = text.data();
            size_t left = text.size();
            while (left > 0) {
                const DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 8192));
                DWORD written = 0;
                if (!::WriteConsoleW(out_, data, chunk, &written, nullptr) || written == 0) {
                    return;
                }
                data += written;
                left -= written;
            }
            return;
        }
        UINT codePage = ::GetConsoleOutputCP();
        if (codePage == 0) {
            codePage = CP_ACP; // no console at all
        }
        const std::string bytes = WithCrLf(ToCodePage(text, codePage));
        WriteAllBytes(out_, bytes.data(), bytes.size());
    }

    void WriteNarrow(const std::string& text) override {
        std::lock_guard<std::mutex> guard(writeLock_);
        if (outIsConsole_) {
            WriteAllBytes(out_, text.data(), text.size());
        } else {
            const std::string bytes = WithCrLf(text);
            WriteAllBytes(out_, bytes.data(), bytes.size());
        }
    }

    void SetTextAttribute(uint16_t attribute) override {
        if (outIsConsole_) {
            ::SetConsoleTextAttribute(out_, attribute);
        }
    }

    void SetCursorVisible(bool visible) override {
        CONSOLE_CURSOR_INFO info{};
        if (outIsConsole_ && ::GetConsoleCursorInfo(out_, &info)) {
            info.bVisible = visible ? TRUE : FALSE;
            ::SetConsoleCursorInfo(out_, &info);
        }
    }

    int ReadKey() override {
        if (in_ == nullptr || in_ == INVALID_HANDLE_VALUE) {
            return -1;
        }
        if (!inIsConsole_) {
            unsigned char byte = 0;
            DWORD read = 0;
            if (!::ReadFile(in_, &byte, 1, &read, nullptr) || read != 1) {
                return -1; // end of input or a broken pipe: never wait for a key that cannot come
            }
            return byte;
        }
        for (;;) {
            INPUT_RECORD record{};
            DWORD count = 0;
            if (!::ReadConsoleInputW(in_, &record, 1, &count)) {
                return -1;
            }
            if (count == 1 && IsCharacterKeyDown(record)) {
                return record.Event.KeyEvent.uChar.UnicodeChar;
            }
        }
    }

    bool KeyAvailable() override {
        if (in_ == nullptr || in_ == INVALID_HANDLE_VALUE) {
            return true; // ReadKey returns -1 at once
        }
        if (!inIsConsole_) {
            if (::GetFileType(in_) != FILE_TYPE_PIPE) {
                return true; // a file or device: a read returns at once
            }
            DWORD available = 0;
            if (!::PeekNamedPipe(in_, nullptr, 0, nullptr, &available, nullptr)) {
                // The writer has gone (ReadKey reports the end at once), or the pipe cannot be looked into
                // (Wine's pipes to the host): let the caller read rather than poll for ever.
                return true;
            }
            return available > 0;
        }
        // Drop the events that are not key presses, as ReadKey would skip them anyway.
        for (;;) {
            INPUT_RECORD record{};
            DWORD count = 0;
            if (!::PeekConsoleInputW(in_, &record, 1, &count) || count == 0) {
                return false;
            }
            if (IsCharacterKeyDown(record)) {
                return true;
            }
            ::ReadConsoleInputW(in_, &record, 1, &count);
        }
    }

    uintptr_t Window() override { return reinterpret_cast<uintptr_t>(::GetConsoleWindow()); }

    void BringToFront(uintptr_t window) override {
        HWND hwnd = reinterpret_cast<HWND>(window);
        if (hwnd == nullptr) {
            return;
        }
        ::SetForegroundWindow(hwnd);
        ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }

    void RemoveCloseFromMenu(uintptr_t window) override {
        HWND hwnd = reinterpret_cast<HWND>(window);
        if (hwnd == nullptr) {
            return;
        }
        HMENU menu = ::GetSystemMenu(hwnd, FALSE);
        if (menu != nullptr) {
            ::DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
        }
    }

    void AddControlHandler(std::function<bool(uint32_t)> handler) override {
        ControlHandlers& all = Handlers();
        std::lock_guard<std::mutex> guard(all.lock);
        all.handlers.push_back(std::move(handler));
        if (!all.registered) {
            all.registered = ::SetConsoleCtrlHandler(DispatchControlEvent, TRUE) != FALSE;
        }
    }

private:
    static bool IsCharacterKeyDown(const INPUT_RECORD& record) {
        return record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
               record.Event.KeyEvent.uChar.UnicodeChar != 0;
    }

    HANDLE out_;
    HANDLE in_;
    bool outIsConsole_;
    bool inIsConsole_;
    std::mutex writeLock_;
};

} // namespace

std::unique_ptr<Console> CreateConsole() {
    return std::make_unique<WinConsole>();
}

} // namespace plat::win
