// Console of the simulated machine: stdout as the console screen, stdin as the keyboard, POSIX signals as
// console control events.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/sim/SimParts.h"
#include "sim/Text.h"

namespace plat::simbackend {

namespace {

constexpr uintptr_t kConsoleWindow = 0x000A0B2C; // any non-zero value stands for the window

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (::write(g_signalPipe[1], &byte, 1) < 0) {
        // Nothing can be done inside a signal handler; the event is lost.
    }
    errno = saved;
}

// Puts a terminal into non-canonical, unechoed mode for its lifetime.
class RawTerminal {
public:
    explicit RawTerminal(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0)
            return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (active_)
            ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// One byte from standard input, or -1 at its end or on an error.
int ReadByte() {
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(0, &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && errno == EINTR)
            continue;
        return -1;
    }
}

} // namespace

SimConsole::SimConsole(SimMachine& machine) : machine_(machine), terminal_(::isatty(1) == 1) {}

void SimConsole::WriteBytes(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    std::fflush(stdout); // anything the C library still buffers comes first
    const char* data = bytes.data();
    size_t size = bytes.size();
    while (size > 0) {
        const ssize_t n = ::write(1, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a closed or full console loses the text, as on Windows
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void SimConsole::WriteControl(const char* sequence) {
    if (terminal_)
        WriteBytes(sequence);
}

void SimConsole::Write(const std::wstring& text) {
    WriteBytes(sim::ToUtf8(text));
}

void SimConsole::WriteNarrow(const std::string& text) {
    WriteBytes(text);
}

void SimConsole::SetTextAttribute(uint16_t attribute) {
    machine_.textAttribute = attribute;
    if (attribute == 7) {
        WriteControl("\x1b[0m");
        return;
    }
    // Console attribute bits: 1 blue, 2 green, 4 red, 8 bright; ANSI colours: 1 red, 2 green, 4 blue.
    const int ansi = ((attribute & 4) ? 1 : 0) | ((attribute & 2) ? 2 : 0) | ((attribute & 1) ? 4 : 0);
    char sequence[16];
    std::snprintf(sequence, sizeof sequence, "\x1b[%dm", ((attribute & 8) ? 90 : 30) + ansi);
    WriteControl(sequence);
}

void SimConsole::SetCursorVisible(bool visible) {
    machine_.cursorVisible = visible ? 1 : 0;
    WriteControl(visible ? "\x1b[?25h" : "\x1b[?25l");
}

int SimConsole::ReadKey() {
    std::lock_guard<std::mutex> lock(inputMutex_);
    if (pushedBack_ >= 0) {
        const int key = pushedBack_;
        pushedBack_ = -1;
        return key;
    }
    if (inputEnded_)
        return -1;
    int key = -1;
    if (::isatty(0) == 1) {
        RawTerminal raw(0);
        key = ReadByte();
    } else {
        key = ReadByte();
    }
    if (key < 0)
        inputEnded_ = true;
    return key;
}

bool SimConsole::KeyAvailable() {
    std::lock_guard<std::mutex> lock(inputMutex_);
    if (pushedBack_ >= 0)
        return true;
    if (inputEnded_)
        return false;
    const bool terminal = ::isatty(0) == 1;
    if (terminal) {
        // A terminal reports keys before Enter only in non-canonical mode.
        RawTerminal raw(0);
        pollfd p{0, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1)
        return false;
    // Readable may also mean the end of input: read ahead one byte to tell.
    const int key = ReadByte();
    if (key < 0) {
        inputEnded_ = true;
        return false;
    }
    pushedBack_ = key;
    return true;
}

uintptr_t SimConsole::Window() {
    return kConsoleWindow;
}

void SimConsole::BringToFront(uintptr_t window) {
    if (window == kConsoleWindow)
        ++machine_.bringToFront;
}

void SimConsole::RemoveCloseFromMenu(uintptr_t window) {
    if (window == kConsoleWindow)
        ++machine_.closeRemoved;
}

void SimConsole::AddControlHandler(std::function<bool(uint32_t)> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    handlers_.push_back(std::move(handler));
    if (signalsInstalled_ || ::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return;
    signalsInstalled_ = true;
    // The system's handler thread: turns signals into control events, one at a time.
    std::thread([this] {
        for (;;) {
            unsigned char signal = 0;
            const ssize_t n = ::read(g_signalPipe[0], &signal, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n != 1)
                return;
            DispatchControlEvent(signal == SIGINT ? kCtrlCEvent : kCtrlCloseEvent);
        }
    }).detach();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void SimConsole::DispatchControlEvent(uint32_t event) {
    ++machine_.controlEvents;
    std::vector<std::function<bool(uint32_t)>> handlers;
    {
        std::lock_guard<std::mutex> lock(handlerMutex_);
        handlers = handlers_;
    }
    bool handled = false;
    for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it)
        handled = (*it)(event);
    // Unhandled events end the process, and a closed console ends it even when a handler answered.
    if (!handled || event == kCtrlCloseEvent)
        machine_.ExitProcess(kStatusControlCExit);
}

} // namespace plat::simbackend
