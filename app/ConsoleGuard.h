// The console of an ordinary run: control events do nothing, the window cannot be closed from its menu,
// and a thread keeps the window in front. The repeated-update test runs without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/Platform.h"

class CConsoleGuard {
public:
    CConsoleGuard(plat::Console& console, plat::Clock& clock);
    ~CConsoleGuard();
    CConsoleGuard(const CConsoleGuard&) = delete;
    CConsoleGuard& operator=(const CConsoleGuard&) = delete;

    // Installs the handler that takes every control event (installed last, so asked first), removes Close
    // from the window's menu, and starts the keep-in-front thread (every 200 ms).
    void Start();
    // Ends the keep-in-front thread within one period and waits for it, unless called on that thread.
    // Safe to call twice and from the control handler's thread.
    void Stop();

private:
    plat::Console& console_;
    plat::Clock& clock_;
    // The window the thread brings forward; 0 ends the thread.
    std::shared_ptr<std::atomic<uintptr_t>> window_;
    std::thread keepInFront_;
};
