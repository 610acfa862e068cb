#include "app/ConsoleGuard.h"

namespace {

constexpr uint32_t kKeepInFrontPeriodMs = 200;

} // namespace

CConsoleGuard::CConsoleGuard(plat::Console& console, plat::Clock& clock)
    : console_(console), clock_(clock), window_(std::make_shared<std::atomic<uintptr_t>>(0)) {}

CConsoleGuard::~CConsoleGuard() {
    Stop();
}

void CConsoleGuard::Start() {
    window_->store(console_.Window());
    // Installed last, so asked first: Ctrl+C, Ctrl+Break and closing the window do nothing.
    console_.AddControlHandler([](uint32_t) { return true; });
    const uintptr_t window = window_->load();
    if (window)
        console_.RemoveCloseFromMenu(window);
    keepInFront_ = std::thread([window = window_, console = &console_, clock = &clock_] {
        while (window->load() != 0) {
            clock->SleepMs(kKeepInFrontPeriodMs);
            const uintptr_t w = window->load();
            if (w)
                console->BringToFront(w);
        }
    });
}

void CConsoleGuard::Stop() {
    window_->store(0);
    // The loop sees the cleared window within one period; waiting for it keeps it from ever touching a
    // console that is gone.
    if (keepInFront_.joinable() && keepInFront_.get_id() != std::this_thread::get_id())
        keepInFront_.join();
}
