// The cards' own I2C engine as the program drives it, into a simulated card's I2C side (engine, bus, the
// FPGA's slaves), one row per message shape. From the bus's accounting: the clocks each message and each
// engine transaction took, against the clocks the bus must carry for the message (9 per byte, address
// bytes included, 1 per start, repeated start and stop); and the CPU time of a message (the program's
// engine procedures and the simulated engine behind the register seam) against that message's bus time at
// 800 kHz (the reference benchmark, timed by the bus time it computes from the clocks).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>

#include "ExternalDeviceLayer/I2cEngine.h"
#include "ExternalDeviceLayer/I2cSettings.h"
#include "perf/BenchSupport.h"
#include "perf/CardI2cBus.h"
#include "sim/CardI2c.h"

namespace {

// A message shape: a write or a read of `count` bytes at a sub-address of `width` bytes. Writes go to an
// unmapped sub-address (the FPGA ignores the bytes), reads to the version block.
struct Shape {
    bool read;
    uint32_t width;
    uint32_t count;
};
const Shape kShapes[] = {
    {false, 1, 0},  // the header alone: slave and sub-address, no stop
    {false, 2, 1},  // one byte, as the flash writer's bridge commands
    {false, 2, 64}, // one 64-byte piece of a flash page
    {true, 1, 4},   // the version read
    {true, 2, 4},   // the bus test's read
    {true, 2, 64},  // a 64-byte read-back piece
};

constexpr double kReferenceHz = 800e3;

// Runs the shape's message once per iteration on the engine; `perMessage` gets each message's bus clocks.
template <class PerMessage> void RunMessages(benchmark::State& state, PerMessage perMessage) {
    const Shape& shape = kShapes[state.range(0)];
    sim::CardI2cSettings settings;
    settings.fpga.version = {1, 6, 13};
    sim::CardI2c card(settings);
    CardI2cBus bus(card);
    const std::atomic<uint32_t> settleCount{0};
    const tagRegWindow window{bus, 0, settleCount};
    CI2cEngine engine(window);
    I2cSettings().speedKhz.store(kDefaultI2cSpeedKhz);
    engine.I2cEngineAcquire();
    tagI2cMessage message;
    message.slaveAddress = 0xD0;
    message.subAddressWidth = shape.width;
    message.subAddress = shape.read ? 4 : (shape.width == 1 ? 0x10 : 0x0100);
    message.data.SetCount(static_cast<int32_t>(shape.count), -1);
    const uint64_t clocksBefore = card.Bus().Counters().clocks;
    const uint64_t gosBefore = card.Engine().Counters().gos;
    for (auto _ : state) {
        const uint64_t clocks = card.Bus().Counters().clocks;
        const int ok = shape.read ? engine.I2cEngineRead(message) : engine.I2cEngineWrite(message);
        if (ok != 1) {
            state.SkipWithError("a message did not go through");
            break;
        }
        perMessage(card.Bus().Counters().clocks - clocks);
    }
    const auto messages = static_cast<double>(state.iterations());
    const auto clocks = static_cast<double>(card.Bus().Counters().clocks - clocksBefore);
    const auto transactions = static_cast<double>(card.Engine().Counters().gos - gosBefore);
    const auto needed = static_cast<double>(MessageClocks(shape.read, shape.width, shape.count));
    state.counters["clocks_per_message"] = clocks / messages;
    state.counters["needed_per_message"] = needed;
    state.counters["transactions_per_message"] = transactions / messages;
    state.counters["clocks_per_transaction"] = clocks / transactions;
    state.counters["ratio_needed_to_clocks"] = needed * messages / clocks;
    state.SetItemsProcessed(state.iterations());
    engine.I2cEngineRelease();
}

// The program's cost per message (CPU time).
void I2cMessage_Engine(benchmark::State& state) {
    RunMessages(state, [](uint64_t) {});
}

// The same messages, each timed by its bus time at 800 kHz: the time the bus itself needs for them.
void I2cMessage_BusTime(benchmark::State& state) {
    benchsupport::MarkReference(state);
    RunMessages(state, [&state](uint64_t clocks) {
        state.SetIterationTime(static_cast<double>(clocks) / kReferenceHz);
    });
}

void Shapes(benchmark::internal::Benchmark* b) {
    for (int64_t i = 0; i < static_cast<int64_t>(sizeof kShapes / sizeof kShapes[0]); ++i)
        b->Arg(i);
}

} // namespace

BENCHMARK(I2cMessage_Engine)->Apply(Shapes);
BENCHMARK(I2cMessage_BusTime)->Apply(Shapes)->UseManualTime();
