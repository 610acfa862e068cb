// The process-wide I2C settings: the bus speed in kHz (800 at start; the command line's override, the
// calibration's 600 and 400, the final pass's 50) and the retry count of display-library transfers (0 at
// start, 10 once the cards' versions were read). The main thread sets them before any worker starts;
// workers only read them.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kDefaultI2cSpeedKhz = 800;
constexpr uint32_t kAdlI2cRetries = 10;
// The final pass checks the cards at this speed; a run started with it goes to the display library first.
constexpr uint32_t kValidationSpeedKhz = 50;

// The bus speed one step down from a speed at which the bus misread (800 to 600 to 400), or 0 when there is
// no lower step.
constexpr uint32_t LowerI2cSpeed(uint32_t khz) {
    return khz == 800 ? 600 : khz == 600 ? 400 : 0;
}

struct tagI2cSettings {
    std::atomic<uint32_t> speedKhz{kDefaultI2cSpeedKhz};
    std::atomic<uint32_t> retryCount{0};

    uint32_t SpeedKhz() const { return speedKhz.load(std::memory_order_relaxed); }
    uint32_t RetryCount() const { return retryCount.load(std::memory_order_relaxed); }
};

// The one instance of the process.
tagI2cSettings& I2cSettings();
