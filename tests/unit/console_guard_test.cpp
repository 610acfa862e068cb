// The console guard of an ordinary run: the swallowing control handler, Close taken off the window's menu,
// and the thread that brings the remembered window forward every 200 ms until the guard stops.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/ConsoleGuard.h"
#include "fakes/FakePlatform.h"

namespace {

// A clock whose sleeps last a millisecond of real time and remember the length asked for.
class ShortSleepClock : public FakeClock {
public:
    void SleepMs(uint32_t ms) override {
        asked.store(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::atomic<uint32_t> asked{0};
};

// Waits up to five seconds of real time for `done`.
template <typename Done> bool WaitFor(Done done) {
    for (int i = 0; i < 5000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

TEST(ConsoleGuard, KeepsTheRememberedWindowInFrontUntilStopped) {
    struct Case {
        uintptr_t window;
        int closeRemoved;
    };
    const Case cases[] = {{77, 1}, {0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        FakeConsole console;
        console.window = c.window;
        ShortSleepClock clock;
        CConsoleGuard guard(console, clock);
        guard.Start();
        ASSERT_EQ(console.handlers.size(), 1u);
        EXPECT_TRUE(console.handlers[0](plat::kCtrlCEvent));
        EXPECT_TRUE(console.handlers[0](plat::kCtrlCloseEvent));
        EXPECT_EQ(console.closeRemoved, c.closeRemoved);
        if (c.window != 0) {
            EXPECT_TRUE(WaitFor([&] { return console.broughtToFront.load() >= 3; }));
            EXPECT_EQ(console.lastBroughtToFront.load(), c.window);
            EXPECT_EQ(clock.asked.load(), 200u);
        }
        guard.Stop();
        const int after = console.broughtToFront.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(console.broughtToFront.load(), after) << "the window came forward after the stop";
        if (c.window == 0) {
            EXPECT_EQ(after, 0);
        }
        guard.Stop(); // a second stop does nothing
    }
}

} // namespace
