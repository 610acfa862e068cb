// Feeds arbitrary bytes as the update stream of two cards at once, through the real card workers
// (StartCardWorker, CQSeries::Update) and the run's polling (CombinedPercent, AllFinished), then frees the
// jobs and cards right away as the run does. What it catches: a register write after the job already read
// 100 percent (the run would close the port under the worker), a result published while the job still
// runs, a combined percentage that falls or reaches 100 too early, and, through the sanitizers, a worker
// that touches its job, card or stream after the run has freed them.
//
// The register bus of each card counts its writes; once an input has used its budget the bus throws an
// exception private to this file, which the card below catches on its worker thread and reports as a
// result of its own, so a stream that asks for billions of clocks ends quickly. The product never throws.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "update/JtagPort.h"
#include "update/QSeries.h"
#include "update/XsvfPlayer.h"

namespace {

constexpr int32_t kCards = 2;
constexpr uint64_t kWriteBudget = 40000;
constexpr int32_t kBudgetResult = -1000; // no interpreter code is negative

struct BudgetUsed {};

class WatchingBus : public RegisterBus {
public:
    void Watch(const tagDeviceUpdate* job) { job_ = job; }
    uint32_t ReadMem(uintptr_t, uint32_t offset) override {
        Touch();
        return offset == kGpioInput ? uint32_t(writes_ >> 3) & 1 : 0;
    }
    void WriteMem(uintptr_t, uint32_t, uint32_t) override {
        Touch();
        if (++writes_ > kWriteBudget)
            throw BudgetUsed{};
    }
    uint32_t ReadConfig(uint32_t, uint32_t) override { return 0; }
    void WriteConfig(uint32_t, uint32_t, uint32_t) override {}

private:
    // The worker drives the card only while its job is unfinished.
    void Touch() const {
        if (job_->Finished())
            std::abort();
    }
    const tagDeviceUpdate* job_ = nullptr;
    uint64_t writes_ = 0;
};

// The real worker body; only the budget's exception is turned into a result.
class BudgetCard : public CQSeries {
public:
    explicit BudgetCard(RegisterBus& bus) : CQSeries(bus) {}
    int32_t Update(tagDeviceUpdate* job) override {
        try {
            return CQSeries::Update(job);
        } catch (const BudgetUsed&) {
            job->Finish(kBudgetResult);
            return kBudgetResult;
        }
    }
};

bool KnownResult(int32_t result) {
    return result == kXsvfSuccess || result == kBudgetResult ||
           (result >= kXsvfTdoMismatch && result <= kXsvfOutOfMemory);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1u << 16)
        return 0;
    // Owned like the run's stream, cards and jobs, and freed as soon as the polling says all are done.
    auto stream = std::make_unique<std::vector<uint8_t>>(data, data + size);
    auto buses = std::make_unique<WatchingBus[]>(kCards);
    std::unique_ptr<tagDeviceUpdate[]> jobs(new tagDeviceUpdate[kCards]);
    std::vector<std::unique_ptr<BudgetCard>> cards;
    for (int32_t i = 0; i < kCards; ++i) {
        tagDeviceUpdate& job = jobs[static_cast<size_t>(i)];
        job.regBase = 0x1000;
        job.portMode = kPortFixedSettle;
        job.settleCount = 0;
        job.stream = stream->data();
        job.streamSize = uint32_t(stream->size());
        buses[static_cast<size_t>(i)].Watch(&job);
        cards.push_back(std::make_unique<BudgetCard>(buses[static_cast<size_t>(i)]));
    }
    for (int32_t i = 0; i < kCards; ++i) {
        if (!StartCardWorker(cards[static_cast<size_t>(i)].get(), &jobs[static_cast<size_t>(i)]))
            std::abort();
    }
    uint32_t last = 0;
    for (;;) {
        const uint32_t combined = CombinedPercent(jobs.get(), kCards);
        if (combined < last || combined > 100)
            std::abort();
        last = combined;
        for (int32_t i = 0; i < kCards; ++i) {
            const tagDeviceUpdate& job = jobs[static_cast<size_t>(i)];
            if (!job.Finished() && job.Result() != 0)
                std::abort(); // a result before the finish
        }
        if (combined == 100)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!AllFinished(jobs.get(), kCards))
        std::abort();
    int32_t first = 0;
    for (int32_t i = 0; i < kCards; ++i) {
        const tagDeviceUpdate& job = jobs[static_cast<size_t>(i)];
        const int32_t result = job.Result();
        if (!KnownResult(result) || job.consumed.load(std::memory_order_relaxed) > size)
            std::abort();
        // Both cards play the same stream on the same kind of bus, so they end the same way.
        if (i == 0)
            first = result;
        else if (result != first)
            std::abort();
    }
    // The run's clean-up: nothing may still be in use.
    cards.clear();
    jobs.reset();
    buses.reset();
    stream.reset();
    return 0;
}
