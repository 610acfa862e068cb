// The flash image as the program writes it: `CFlashSpi` over a card's own I2C engine (the card object's
// engine route, settle count 0) into a simulated card's I2C side, whose three FPGA slaves each carry the
// image to their own flash and back. From the bus's accounting, per 256-byte page of the image (all three
// flashes): the clocks the update took, against the bus-only bound of the sequence, the clocks its bytes
// and their message headers must take; the modelled time per MB at 800 and 400 kHz against the time the
// program announces; one card against four at once; and the CPU time against the bus time.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ExternalDeviceLayer/FlashSpi.h"
#include "ExternalDeviceLayer/I2cSettings.h"
#include "fakes/FakeFileSystem.h"
#include "perf/BenchSupport.h"
#include "perf/CardI2cBus.h"
#include "sim/CardI2c.h"
#include "sim/FpgaImage.h"
#include "update/DeviceUpdate.h"
#include "update/QSeries.h"

namespace {

constexpr uint32_t kImageBytes = 1u << 20;
constexpr double kPages = kImageBytes / 256.0;

// The bridge's messages: a 2-byte sub-address.
constexpr double WriteClocks(uint32_t count) {
    return static_cast<double>(MessageClocks(false, 2, count));
}
constexpr double ReadClocks(uint32_t count) {
    return static_cast<double>(MessageClocks(true, 2, count));
}
// What the bus must carry per page and flash: the 260-byte page frame (command, address, 256 bytes) in the
// bridge's 64-byte pieces, and the read-back, where each byte takes a clocking write and a one-byte read.
constexpr double kWriteBound = 4 * WriteClocks(64) + WriteClocks(4);
constexpr double kReadBackBound = 256 * (WriteClocks(1) + ReadClocks(1));
constexpr double kSequenceBound = 3 * (kWriteBound + kReadBackBound);

const std::string& Image() {
    static const std::string image = [] {
        const std::vector<uint8_t> file = sim::MakeFirmwareFile({1, 7, 3}, kImageBytes);
        return std::string(file.begin(), file.end());
    }();
    return image;
}

// One card with erased flashes of the default part, written by the program as its flash worker does.
struct FlashedCard {
    FlashedCard() : card(Settings()), bus(card), q740(bus), writer(q740, files) {
        job.regBase = 1;
        job.settleCount.store(0);
        q740.job = &job;
        files.SetFile("fw.bit", Image());
    }
    static sim::CardI2cSettings Settings() {
        sim::CardI2cSettings settings;
        settings.fpga.version = {1, 6, 13};
        return settings;
    }
    bool Program() { return writer.Program("fw.bit", 0, nullptr) == 1; }

    sim::CardI2c card;
    CardI2cBus bus;
    tagDeviceUpdate job;
    CQSeries q740;
    FakeFileSystem files;
    CFlashSpi writer;
};

// Writes the image into a new card per iteration at the speed `state.range(0)` in kHz; `perImage` gets the
// bus seconds of each image.
template <class PerImage> void WriteImages(benchmark::State& state, PerImage perImage) {
    const auto speed = static_cast<uint32_t>(state.range(0));
    I2cSettings().speedKhz.store(speed);
    double clocks = 0, seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto card = std::make_unique<FlashedCard>();
        state.ResumeTiming();
        if (!card->Program()) {
            state.SkipWithError("the image was not written");
            break;
        }
        const sim::I2cBusCounters& bus = card->card.Bus().Counters();
        clocks += static_cast<double>(bus.clocks);
        seconds += bus.seconds;
        perImage(bus.seconds);
        state.PauseTiming();
        card.reset();
        state.ResumeTiming();
    }
    I2cSettings().speedKhz.store(kDefaultI2cSpeedKhz);
    const auto images = static_cast<double>(state.iterations());
    state.counters["clocks_per_page"] = clocks / images / kPages;
    state.counters["bound_per_page"] = kSequenceBound;
    state.counters["write_bound_per_page"] = 3 * kWriteBound;
    state.counters["ratio_bound_to_clocks"] = kSequenceBound * kPages * images / clocks;
    state.counters["clocks_per_MB"] = clocks / images;
    state.counters["minutes_per_MB"] = seconds / images / 60;
    state.counters["announced_minutes"] = 2400.0 / speed;
    state.counters["ratio_announced_to_modelled"] = 2400.0 / speed / (seconds / images / 60);
}

// The program's CPU cost of writing and reading back a 1 MB image.
void FlashImage_Writer(benchmark::State& state) {
    WriteImages(state, [](double) {});
}

// The same images, each timed by its bus time: the time the bus itself needs for them.
void FlashImage_BusTime(benchmark::State& state) {
    benchsupport::MarkReference(state);
    WriteImages(state, [&state](double seconds) { state.SetIterationTime(seconds); });
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// `count` cards written at once at 800 kHz, one thread each, as the workers do. The buses are independent,
// so the modelled time is one card's; the wall time shows what the writers cost together.
void WriteCards(benchmark::State& state, size_t count) {
    I2cSettings().speedKhz.store(kDefaultI2cSpeedKhz);
    double modelled = 0, writerCpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::unique_ptr<FlashedCard>> cards;
        for (size_t i = 0; i < count; ++i)
            cards.push_back(std::make_unique<FlashedCard>());
        std::vector<char> ok(count, 0);
        std::vector<double> cpu(count, 0);
        state.ResumeTiming();
        std::vector<std::thread> workers;
        for (size_t i = 0; i < count; ++i)
            workers.emplace_back([&, i] {
                const double start = ThreadCpuSeconds();
                ok[i] = cards[i]->Program();
                cpu[i] = ThreadCpuSeconds() - start;
            });
        for (std::thread& worker : workers)
            worker.join();
        state.PauseTiming();
        double slowest = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!ok[i])
                state.SkipWithError("an image was not written");
            slowest = std::max(slowest, cards[i]->card.Bus().Counters().seconds);
            writerCpu += cpu[i];
        }
        modelled += slowest;
        cards.clear();
        state.ResumeTiming();
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["modelled_seconds"] = modelled / runs;
    // Each writer's own CPU time: against the wall time, what the cores (not the code) allowed.
    state.counters["cpu_seconds_per_card"] = writerCpu / runs / static_cast<double>(count);
}

// Four cards at once.
void FlashCards_Four(benchmark::State& state) {
    WriteCards(state, 4);
}

// One card alone.
void FlashCards_One(benchmark::State& state) {
    benchsupport::MarkReference(state);
    WriteCards(state, 1);
}

} // namespace

BENCHMARK(FlashImage_Writer)->Arg(800)->Arg(400)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(FlashImage_BusTime)
    ->Arg(800)
    ->Arg(400)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FlashCards_Four)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(FlashCards_One)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
