// Time: the process clock, sleeps, local time, the performance counter and the processor clock.
#pragma once

#include <cstdint>

namespace plat {

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the process started (the process clock).
    virtual uint64_t ProcessMilliseconds() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    virtual LocalTime Now() = 0;
    virtual uint64_t PerformanceCounter() = 0;
    virtual uint64_t PerformanceFrequency() = 0;
    // Current processor clock in MHz from the processor power information; 0 when unknown.
    virtual uint32_t ProcessorMhz() = 0;
};

} // namespace plat
