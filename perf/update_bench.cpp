// A whole simulated update: one worker thread per card plays the update stream through the port layer into
// the simulated cards (service exports, GPIO lines, TAP, FPGA), as the program's workers do.
//
// UpdateStream_*: one card, streams of about 1, 4 and 16 MB, each played as often as makes 16 MB in all,
// settle count 0, timed by the process's CPU time; the ratio against UpdateStream_1MB is 1.0 when the cost
// grows linearly with the stream. UpdateStream_Calibrated plays the 1 MB stream as the program plays an
// update stream: port mode 0, the settle count calibrated at each port set-up against the real
// performance counter, so its ratio is what the settle waits cost on the simulated card.
// UpdateCards_*: a 4 MB stream on 1, 2 and 4 cards at once, settle count 0, wall time; the ratio against
// UpdateCards_One is the share of the one-card wall time that the run takes (1.0: no slower; 0.5: twice as
// long). Their counter cpu_ms_per_card is the process's CPU time per card.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ExternalDeviceLayer/PciScan.h"
#include "fakes/FakePlatform.h"
#include "perf/BenchSupport.h"
#include "sim/FpgaImage.h"
#include "sim/FpgaStream.h"
#include "sim/HwService.h"
#include "sim/Machine.h"
#include "update/JtagPort.h"
#include "update/QSeries.h"

namespace {

// The hardware-access operations over the stand-in service's exports.
class ServiceAccess : public CHwAccess {
public:
    uint32_t HwReadConfig(uint32_t hPci, uint32_t offset, uint32_t* value) override {
        return SimCsReadWrite(hPci, offset, value, 4, 0);
    }
    uint32_t HwWriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) override {
        return SimCsReadWrite(hPci, offset, &value, 4, 1);
    }
    uint32_t HwReadMem(uintptr_t base, uint32_t offset, uint32_t* value) override {
        return SimMemRead(base, offset, value, 4);
    }
    uint32_t HwWriteMem(uintptr_t base, uint32_t offset, uint32_t value) override {
        return SimMemWrite(base, offset, &value, 4);
    }
    uintptr_t HwMapMem(uint32_t low, uint32_t high, uint32_t length, uint32_t flags) override {
        return SimMemMap64(low, high, length, flags);
    }
    uint32_t HwUnmapMem(uintptr_t base) override { return SimMemUnmap(base); }
    uint32_t HwScanBus(VskPciScanCallback callback, void* context) override {
        return SimPciScanBus(callback, context);
    }
};

constexpr size_t kMiB = 1 << 20;

// The host's steady clock as the performance counter (100 ns ticks, as Windows reports), and the default
// simulated machine's processor clock: what the calibration measures against.
class SteadyClock : public FakeClock {
public:
    uint64_t PerformanceCounter() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count()) /
               100;
    }
    uint32_t ProcessorMhz() override { return sim::DefaultMachine(1).processorMhz; }
};

// A machine with four cards, attached and scanned once for the whole program.
struct Bench {
    std::string dir;
    ServiceAccess hw;
    std::unique_ptr<CPciScan> scan;
    std::vector<std::vector<uint8_t>> streams; // about 1, 4 and 16 MB
    std::string error;

    Bench() {
        dir = (std::filesystem::temp_directory_path() / "vsk-update-bench").string();
        std::filesystem::remove_all(dir);
        if (!sim::CreateMachine(dir, sim::DefaultMachine(4), error))
            return;
        sim::AttachService(dir);
        scan = std::make_unique<CPciScan>(hw);
        if (!scan->Scan() || scan->count != 4) {
            error = "the four cards were not found";
            return;
        }
        for (size_t target : {1 * kMiB, 4 * kMiB, 16 * kMiB}) {
            // The stream is a little over three times the image; find the image size from a first try.
            size_t image = target / 3;
            sim::XsvfBytes stream;
            for (int attempt = 0; attempt < 2; ++attempt) {
                const std::vector<uint8_t> file = sim::MakeFirmwareFile({1, 7, 2}, image);
                stream.clear();
                if (!sim::MakeUpdateStream(file.data(), file.size(), sim::UpdateStreamOptions{}, stream,
                                           error))
                    return;
                image = static_cast<size_t>(static_cast<double>(image) * static_cast<double>(target) /
                                            static_cast<double>(stream.size()));
            }
            streams.push_back(stream);
        }
    }
    ~Bench() { std::filesystem::remove_all(dir); }

    // Plays the stream on the first `cards` cards at once; false when a card failed.
    bool Update(const std::vector<uint8_t>& stream, int cards, bool calibrated = false) {
        std::unique_ptr<tagDeviceUpdate[]> jobs(new tagDeviceUpdate[static_cast<size_t>(cards)]);
        std::vector<std::unique_ptr<CQSeries>> devices;
        std::vector<std::thread> workers;
        for (int i = 0; i < cards; ++i) {
            const tagPciInfo& info = (*scan->records)[i];
            tagDeviceUpdate& job = jobs[static_cast<size_t>(i)];
            job.hPci = info.hPci;
            job.regBase = info.regBase;
            job.portMode = calibrated ? kPortCalibrated : kPortFixedSettle;
            job.settleCount = calibrated ? 40 : 0;
            job.stream = stream.data();
            job.streamSize = static_cast<uint32_t>(stream.size());
            devices.emplace_back(CreateCard(&info, tagCmdLineOptions(), i, hw));
            CloseJtagPort(job, hw, clock, false); // start each play from released lines
            if (calibrated)
                InitJtagPort(job, hw, steady, {});
            else
                InitJtagPort(job, hw, clock, {});
        }
        for (size_t i = 0; i < devices.size(); ++i)
            workers.emplace_back([&, i] { devices[i]->Update(&jobs[i]); });
        bool ok = true;
        for (size_t i = 0; i < workers.size(); ++i) {
            workers[i].join();
            ok = ok && jobs[i].Result() == 0;
        }
        return ok;
    }

    FakeClock clock; // the fixed settle count needs no calibration, and the port closes without a pulse
    SteadyClock steady;
};

Bench& Shared() {
    static Bench bench;
    return bench;
}

void RunStream(benchmark::State& state, size_t which, bool calibrated = false) {
    Bench& b = Shared();
    if (!b.error.empty() || b.streams.size() <= which) {
        state.SkipWithError(b.error.empty() ? "no stream" : b.error.c_str());
        return;
    }
    const std::vector<uint8_t>& stream = b.streams[which];
    const size_t plays = (16 * kMiB + stream.size() / 2) / stream.size();
    for (auto _ : state) {
        for (size_t i = 0; i < plays; ++i) {
            if (!b.Update(stream, 1, calibrated)) {
                state.SkipWithError("the update failed");
                return;
            }
        }
    }
    state.counters["stream_bytes"] = static_cast<double>(stream.size());
    state.counters["plays"] = static_cast<double>(plays);
}

void RunCards(benchmark::State& state, int cards) {
    Bench& b = Shared();
    if (!b.error.empty() || b.streams.size() < 2) {
        state.SkipWithError(b.error.empty() ? "no stream" : b.error.c_str());
        return;
    }
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        if (!b.Update(b.streams[1], cards)) {
            state.SkipWithError("the update failed");
            return;
        }
    }
    // The process's CPU time per card and play: the same for any number of cards when the cards share
    // nothing, whatever else the machine runs meanwhile.
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    state.counters["cpu_ms_per_card"] =
        cpuMs / static_cast<double>(cards) / static_cast<double>(state.iterations());
}

void UpdateStream_1MB(benchmark::State& state) {
    benchsupport::MarkReference(state);
    RunStream(state, 0);
}
void UpdateStream_4MB(benchmark::State& state) {
    RunStream(state, 1);
}
void UpdateStream_16MB(benchmark::State& state) {
    RunStream(state, 2);
}
void UpdateStream_Calibrated(benchmark::State& state) {
    RunStream(state, 0, true);
}
void UpdateCards_One(benchmark::State& state) {
    benchsupport::MarkReference(state);
    RunCards(state, 1);
}
void UpdateCards_Two(benchmark::State& state) {
    RunCards(state, 2);
}
void UpdateCards_Four(benchmark::State& state) {
    RunCards(state, 4);
}

} // namespace

// 16 MB played per iteration, seven repetitions each (each 16 MB takes seconds, so a repetition is long
// against the machine's scheduling); perf/run.sh takes the least time of the seven. The card-count runs
// are timed by wall time, which other programs on the machine lengthen: nine repetitions, the least taken.
BENCHMARK(UpdateStream_1MB)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(1)
    ->Repetitions(7);
BENCHMARK(UpdateStream_4MB)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(1)
    ->Repetitions(7);
BENCHMARK(UpdateStream_16MB)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(1)
    ->Repetitions(7);
// The calibrated plays take about four times as long: five repetitions.
BENCHMARK(UpdateStream_Calibrated)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(UpdateCards_One)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
BENCHMARK(UpdateCards_Two)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
BENCHMARK(UpdateCards_Four)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
