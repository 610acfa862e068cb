// The update job of one card: what the layers below the run need to reach the card, the state of its JTAG
// port, its view of the update stream, and the two fields through which its worker reports back.
//
// The run owns the jobs and fills them while it lists the cards; one worker thread then drives each job
// while the main thread polls `percent` and `result`. No lock protects a job: the fields a worker writes are
// 32-bit atomics with relaxed order, except for the worker's last two stores (`Finish`): `result`, then
// `percent` at 100 with release. While the worker runs, `percent` stays at 99 or below, so a job that reads
// 100 (loaded with acquire) is finished: its worker touches neither the job, nor the card, nor the stream
// again, and the run may read `result`, close the port and free them. The run never writes `percent` or
// `result` of a job whose worker is running. The record is neither copyable nor movable: a live job is
// shared by two threads and must stay where it is.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Result codes a job can end with, besides the interpreter's own error codes 2 to 6.
constexpr int32_t kUpdateSuccess = 0;
constexpr int32_t kUpdateFlashWriteFailed = 99;
constexpr int32_t kUpdateCheckFailed = 45067;

// Result of a card that could not be driven at all: its register window could not be mapped, or its worker
// thread could not be started. No other failure and no other way out of the run gives this code, so an
// installer can tell a card that was never driven from a run that did nothing (exit code 1).
constexpr int32_t kUpdateCardUnusable = 98;

// The highest progress a running job shows; 100 is stored only by `Finish`.
constexpr uint32_t kRunningPercentLimit = 99;

// Settle count of a new job, before calibration or the run's choice.
constexpr uint32_t kDefaultSettleCount = 40;

// Cache lines of its own: the run keeps the jobs side by side in one array, and the workers of different
// cards write their jobs at once; sharing a line would make each worker's stores evict the other's.
constexpr size_t kJobAlignment = 64;

struct alignas(kJobAlignment) tagDeviceUpdate {
    uint32_t hPci = 0;                                      // PCI handle, for configuration access
    uintptr_t regBase = 0;                                  // base of the mapped register window
    std::atomic<uint32_t> gpioImage{0};                     // GPIO output image of the JTAG port
    std::atomic<int32_t> portMode{0};                       // port timing mode: 0, 1 or 2
    std::atomic<uint32_t> settleCount{kDefaultSettleCount}; // busy-wait length after a register write
    const uint8_t* stream = nullptr;                        // read position in the run's stream buffer
    uint32_t streamSize = 0;                                // number of stream bytes
    std::atomic<uint32_t> consumed{0};                      // stream bytes read
    std::atomic<uint32_t> percent{0};                       // progress: 0 to 99 running, 100 finished
    std::atomic<int32_t> result{0};                         // 0 = success, else an error code
    int32_t adlIndex = -1;                                  // display-library adapter index, or -1

    tagDeviceUpdate() = default;
    tagDeviceUpdate(const tagDeviceUpdate&) = delete;
    tagDeviceUpdate& operator=(const tagDeviceUpdate&) = delete;

    // Progress while running; at most kRunningPercentLimit.
    void SetPercent(uint32_t value) { percent.store(value, std::memory_order_relaxed); }
    // The worker's last stores: the result, then 100 percent. Also used by the run for a job that gets no
    // worker, before anyone else reads it.
    void Finish(int32_t code) {
        result.store(code, std::memory_order_relaxed);
        percent.store(100, std::memory_order_release);
    }
    // Progress as the run sees it; 100 means finished, and then `Result()` is the worker's result.
    uint32_t Percent() const { return percent.load(std::memory_order_acquire); }
    bool Finished() const { return Percent() >= 100; }
    // The result: 0 until the job is finished. Read it after `Finished()` (or `Percent()`) reported 100.
    int32_t Result() const { return result.load(std::memory_order_relaxed); }
    // For the run's checks after every worker has finished (a failed post-update check).
    void SetResult(int32_t code) { result.store(code, std::memory_order_relaxed); }
};
