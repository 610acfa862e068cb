// Time on Win32. The process clock counts from the process's creation time: the offset to now is taken
// once, and the performance counter, which never jumps with the wall clock, carries it forward.
#include <windows.h>
// After windows.h, which it needs.
#include <powrprof.h>

#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

// One entry of CallNtPowerInformation(ProcessorInformation), one per processor; the SDK does not declare it.
struct ProcessorPowerInformation {
    ULONG Number;
    ULONG MaxMhz;
    ULONG CurrentMhz;
    ULONG MhzLimit;
    ULONG MaxIdleState;
    ULONG CurrentIdleState;
};

uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class WinClock final : public Clock {
public:
    WinClock() {
        startCounter_ = PerformanceCounter();
        frequency_ = PerformanceFrequency();
        FILETIME creation{}, exitTime{}, kernel{}, user{}, now{};
        ::GetSystemTimeAsFileTime(&now);
        if (::GetProcessTimes(::GetCurrentProcess(), &creation, &exitTime, &kernel, &user) &&
            FileTimeValue(now) > FileTimeValue(creation)) {
            startOffsetMs_ = (FileTimeValue(now) - FileTimeValue(creation)) / 10000; // 100 ns units
        }
    }

    uint64_t ProcessMilliseconds() override {
        if (frequency_ == 0) {
            return startOffsetMs_;
        }
        const uint64_t ticks = PerformanceCounter() - startCounter_;
        return startOffsetMs_ + ticks / frequency_ * 1000 + ticks % frequency_ * 1000 / frequency_;
    }

    void SleepMs(uint32_t ms) override { ::Sleep(ms); }

    LocalTime Now() override {
        SYSTEMTIME time{};
        ::GetLocalTime(&time);
        LocalTime local;
        local.year = time.wYear;
        local.month = time.wMonth;
        local.day = time.wDay;
        local.hour = time.wHour;
        local.minute = time.wMinute;
        local.second = time.wSecond;
        return local;
    }

    uint64_t PerformanceCounter() override {
        LARGE_INTEGER value{};
        ::QueryPerformanceCounter(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }

    uint64_t PerformanceFrequency() override {
        LARGE_INTEGER value{};
        ::QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }

    // Current clock of processor 0. The call wants one entry per processor in the system.
    uint32_t ProcessorMhz() override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        const size_t count = info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
        std::vector<ProcessorPowerInformation> entries(count);
        const ULONG size = static_cast<ULONG>(entries.size() * sizeof(ProcessorPowerInformation));
        if (::CallNtPowerInformation(ProcessorInformation, nullptr, 0, entries.data(), size) != 0) {
            return 0;
        }
        return entries[0].CurrentMhz;
    }

private:
    uint64_t startCounter_ = 0;
    uint64_t frequency_ = 0;
    uint64_t startOffsetMs_ = 0;
};

} // namespace

std::unique_ptr<Clock> CreateClock() {
    return std::make_unique<WinClock>();
}

} // namespace plat::win
