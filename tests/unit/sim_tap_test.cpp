// The simulated TAP and GPIO lines: the sixteen-state machine, what the device behind it sees, the line
// control rules, and the product's own port layer reading an IDCODE through the simulated card.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ExternalDeviceLayer/RegisterBus.h"
#include "sim/Card.h"
#include "sim/PciBus.h"
#include "update/JtagPort.h"

namespace {

using sim::TapState;

// A one-instruction-register device: IDCODE (0x1, after reset) and BYPASS (0xF), IR length 4, and a log of
// the calls that change state.
class TestDevice : public sim::JtagDevice {
public:
    static constexpr uint32_t kIdcode = 0x1362D093;
    void Reset() override { ir_ = 0x1, log += "R"; }
    uint32_t IrLength() const override { return 4; }
    void CaptureIr() override { shift_ = 0x1, length_ = 4, log += "ci"; }
    void CaptureDr() override {
        shift_ = ir_ == 0x1 ? kIdcode : 0;
        length_ = ir_ == 0x1 ? 32 : 1;
        log += "cd";
    }
    void ShiftIr(bool tdi) override { Shift(tdi), log += "si"; }
    void ShiftDr(bool tdi) override { Shift(tdi), log += "sd"; }
    void UpdateIr() override { ir_ = shift_, log += "ui"; }
    void UpdateDr() override { log += "ud"; }
    void RunTestClock() override { ++runTestClocks; }
    bool Tdo() const override { return shift_ & 1; }
    void DonePulse() override { ++donePulses; }

    std::string log;
    int runTestClocks = 0, donePulses = 0;
    uint32_t ir_ = 0x1;

private:
    void Shift(bool tdi) { shift_ = (shift_ >> 1) | (uint32_t{tdi} << (length_ - 1)); }
    uint32_t shift_ = 0, length_ = 1;
};

TEST(SimTap, EveryStateMovesAsTheStandardSays) {
    // {next with TMS 0, next with TMS 1}, by state number.
    const int expected[16][2] = {{1, 0}, {1, 2},  {3, 9},   {4, 5},   {4, 5},   {6, 8},   {6, 7},   {4, 8},
                                 {1, 2}, {10, 0}, {11, 12}, {11, 12}, {13, 15}, {13, 14}, {11, 15}, {1, 2}};
    for (int s = 0; s < 16; ++s) {
        for (int tms = 0; tms < 2; ++tms)
            EXPECT_EQ(static_cast<int>(sim::NextTapState(static_cast<TapState>(s), tms)), expected[s][tms])
                << sim::TapStateName(static_cast<TapState>(s)) << " tms " << tms;
        TapState state = static_cast<TapState>(s);
        for (int i = 0; i < 5; ++i)
            state = sim::NextTapState(state, true);
        EXPECT_EQ(state, TapState::TestLogicReset) << s;
    }
}

TEST(SimTap, DeviceSeesCaptureShiftUpdateAndRunTestOnTheRightEdges) {
    TestDevice device;
    sim::TapController tap(&device);
    EXPECT_EQ(device.log, "R"); // power-up
    // Reset -> Idle (2 clocks there) -> Shift-IR, 4 bits of BYPASS, -> Update-IR -> Idle
    const char* tms = "0001100"
                      "0001"
                      "10";
    const char* tdi = "0000000"
                      "1111"
                      "00";
    for (size_t i = 0; tms[i]; ++i)
        tap.RisingEdge(tms[i] == '1', tdi[i] == '1');
    EXPECT_EQ(tap.State(), TapState::RunTestIdle);
    EXPECT_EQ(device.log, "Rcisisisisiui");
    EXPECT_EQ(device.ir_, 0xFu);
    EXPECT_EQ(device.runTestClocks, 3); // two waits and the edge that leaves Run-Test/Idle
    // Five TMS=1 from Run-Test/Idle reset the device once, on entering Test-Logic-Reset.
    for (int i = 0; i < 5; ++i)
        tap.RisingEdge(true, false);
    EXPECT_EQ(tap.State(), TapState::TestLogicReset);
    EXPECT_EQ(device.log, "RcisisisisiuiR");
    EXPECT_EQ(device.ir_, 0x1u);
    EXPECT_TRUE(tap.Tdo()); // not driven outside the shift states
}

// The card's lines, driven register by register.
class SimLines : public ::testing::Test {
protected:
    SimLines() : card_(std::make_unique<TestDevice>(), "03:00.0") {}
    void Write(uint32_t offset, uint32_t value) { card_.Write(offset, value, true); }
    void Claim(uint32_t driven) {
        Write(sim::kCardGpioMask, driven | 0x7);
        Write(sim::kCardGpioOutputEnable, driven);
    }
    uint64_t Misuse(sim::CardMisuse kind) const { return card_.Record().Misuse(kind); }
    sim::Card card_;
};

constexpr uint32_t kTck = sim::kCardLineTck, kTms = sim::kCardLineTms, kTdi = sim::kCardLinesTdi;

TEST_F(SimLines, ClockingFloatingTckIsMisuseAndMovesNothing) {
    Claim(kTms | kTdi); // TCK left out of the output enables
    Write(sim::kCardGpioOutput, kTms);
    Write(sim::kCardGpioOutput, kTms | kTck);
    EXPECT_EQ(card_.Record().tckEdges, 0u);
    EXPECT_EQ(Misuse(sim::CardMisuse::TckNotDriven), 1u);
    EXPECT_EQ(card_.Record().firstMisuse.at(0), "tck-not-driven at 0x179C value 0x20000020");
    // Under control the next rising edge counts (TMS 0: Reset -> Idle).
    Write(sim::kCardGpioOutput, 0);
    Claim(kTck | kTms | kTdi);
    Write(sim::kCardGpioOutput, kTck);
    EXPECT_EQ(card_.Record().tckEdges, 1u);
    EXPECT_EQ(card_.State(), TapState::RunTestIdle);
}

TEST_F(SimLines, TdiLinesThatDisagreeAreMisuseAndBit11Counts) {
    Claim(kTck | kTms | kTdi);
    struct Step {
        uint32_t tdi;
        uint64_t disagreements;
    } steps[] = {{kTdi, 0}, {0, 0}, {1u << 11, 1}, {1u << 12 | 1u << 13, 2}};
    // Reset -> Idle -> Select-DR -> Capture-DR -> Shift-DR, then shift the four bits.
    for (bool tms : {false, true, false, false}) {
        Write(sim::kCardGpioOutput, tms ? kTms : 0);
        Write(sim::kCardGpioOutput, (tms ? kTms : 0) | kTck);
    }
    ASSERT_EQ(card_.State(), TapState::ShiftDr);
    for (const Step& step : steps) {
        Write(sim::kCardGpioOutput, step.tdi);
        Write(sim::kCardGpioOutput, step.tdi | kTck);
        EXPECT_EQ(Misuse(sim::CardMisuse::TdiDisagree), step.disagreements) << step.tdi;
    }
    EXPECT_EQ(Misuse(sim::CardMisuse::TdiNotDriven), 0u);
    EXPECT_EQ(Misuse(sim::CardMisuse::TmsNotDriven), 0u);
}

TEST_F(SimLines, InputRegisterCarriesTdoAndDonePulseNeedsTheLine) {
    EXPECT_EQ(card_.Read(sim::kCardGpioInput, true), 0x7u); // TDO not driven: pulled high
    // Line 6 raised without GPIO control: no pulse; under control: one per rising edge.
    Write(sim::kCardGpioOutput, sim::kCardLineDone);
    Write(sim::kCardGpioOutput, 0);
    EXPECT_EQ(card_.Record().donePulses, 0u);
    Write(sim::kCardGpioMask, sim::kCardLineDone);
    Write(sim::kCardGpioOutputEnable, sim::kCardLineDone);
    Write(sim::kCardGpioOutput, sim::kCardLineDone);
    Write(sim::kCardGpioOutput, sim::kCardLineDone); // no edge
    Write(sim::kCardGpioOutput, 0);
    EXPECT_EQ(card_.Record().donePulses, 1u);
    // The claim line is counted the same way.
    Write(sim::kCardGpioMask, sim::kCardLineClaim);
    Write(sim::kCardGpioOutputEnable, sim::kCardLineClaim);
    Write(sim::kCardGpioOutput, sim::kCardLineClaim);
    EXPECT_EQ(card_.Record().claimRises, 1u);
    EXPECT_TRUE(card_.Record().claimLevel);
    Write(sim::kCardGpioMask, 0);
    EXPECT_FALSE(card_.Record().claimLevel);
}

// The product's port layer over the simulated bus, as the program drives a card.
class BusRegisters : public RegisterBus {
public:
    explicit BusRegisters(sim::PciBus& bus) : bus_(bus) {}
    uint32_t ReadMem(uintptr_t base, uint32_t offset) override {
        uint32_t v = 0;
        bus_.ReadMem(base, offset, v);
        return v;
    }
    void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) override {
        bus_.WriteMem(base, offset, value);
    }
    uint32_t ReadConfig(uint32_t h, uint32_t offset) override {
        uint32_t v = 0;
        bus_.ReadConfig(h, offset, v);
        return v;
    }
    void WriteConfig(uint32_t h, uint32_t offset, uint32_t value) override {
        bus_.WriteConfig(h, offset, value);
    }

private:
    sim::PciBus& bus_;
};

// Claims the card's lines, resets the TAP, walks to Shift-DR and shifts 32 bits out; returns them.
uint32_t ReadIdcode(RegisterBus& registers, sim::PciBus& bus, const sim::PciFunction& card) {
    tagDeviceUpdate job;
    job.hPci = card.Handle();
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.regBase = bus.Map(card.RegisterWindow(), 0x10000, 0);
    registers.WriteConfig(job.hPci, 0x04, registers.ReadConfig(job.hPci, 0x04) | 2);
    WritePortRegister(job, registers, kGpioMask, 0x20003827);
    WritePortRegister(job, registers, kGpioOutputEnable, 0x20003820);
    uint8_t tap = 1;
    GotoTapState(job, registers, tap, 0);
    GotoTapState(job, registers, tap, 4);
    const uint8_t zeros[4] = {};
    uint8_t captured[4] = {};
    ShiftBits(job, registers, 32, zeros, 4, captured, true);
    tap = 5; // the exit took it to Exit1-DR
    GotoTapState(job, registers, tap, 1);
    return uint32_t{captured[0]} << 24 | uint32_t{captured[1]} << 16 | uint32_t{captured[2]} << 8 |
           captured[3];
}

TEST(SimTapPort, TwoWorkersDriveTheirCardsAtOnce) {
    sim::MachineDescription machine = sim::DefaultMachine(2);
    sim::PciBus bus(machine, "", [](const sim::PciFunction&, int) { return std::make_unique<TestDevice>(); });
    std::vector<uint32_t> wrong(2, 0);
    std::vector<std::thread> workers;
    for (size_t card = 0; card < 2; ++card) {
        workers.emplace_back([&, card] {
            BusRegisters registers(bus);
            for (int i = 0; i < 200; ++i)
                wrong[card] += ReadIdcode(registers, bus, machine.pci[2 + 2 * card]) != TestDevice::kIdcode;
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    for (int card = 0; card < 2; ++card) {
        EXPECT_EQ(wrong[static_cast<size_t>(card)], 0u) << card;
        const sim::CardRecord record = bus.Record(card);
        EXPECT_EQ(record.tckEdges, 200u * (6 + 4 + 32 + 2)) << card;
        for (uint64_t count : record.misuse)
            EXPECT_EQ(count, 0u);
    }
}

TEST(SimTapPort, PortLayerReadsTheIdcodeThroughTheCard) {
    sim::MachineDescription machine = sim::DefaultMachine(1);
    TestDevice* device = nullptr;
    sim::PciBus bus(machine, "", [&device](const sim::PciFunction&, int) {
        auto d = std::make_unique<TestDevice>();
        device = d.get();
        return d;
    });
    BusRegisters registers(bus);
    const sim::PciFunction& card = machine.pci[2];
    tagDeviceUpdate job;
    job.hPci = card.Handle();
    job.portMode = kPortFixedSettle;
    job.settleCount = 0;
    job.regBase = bus.Map(card.RegisterWindow(), 0x10000, 0);
    ASSERT_NE(job.regBase, 0u);
    registers.WriteConfig(job.hPci, 0x04, registers.ReadConfig(job.hPci, 0x04) | 2);
    WritePortRegister(job, registers, kGpioMask, 0x20003827);
    WritePortRegister(job, registers, kGpioOutputEnable, 0x20003820);
    uint8_t tap = 1; // the port layer believes Run-Test/Idle; reset first, as streams do
    ASSERT_EQ(GotoTapState(job, registers, tap, 0), 0);
    ASSERT_EQ(GotoTapState(job, registers, tap, 4), 0);
    EXPECT_EQ(bus.CardTapState(0), TapState::ShiftDr);
    const uint8_t zeros[4] = {};
    uint8_t captured[4] = {};
    ShiftBits(job, registers, 32, zeros, 4, captured, true);
    const uint32_t idcode =
        uint32_t{captured[0]} << 24 | uint32_t{captured[1]} << 16 | uint32_t{captured[2]} << 8 | captured[3];
    EXPECT_EQ(idcode, TestDevice::kIdcode);
    EXPECT_EQ(bus.CardTapState(0), TapState::Exit1Dr);
    const sim::CardRecord record = bus.Record(0);
    EXPECT_EQ(record.tckEdges, 6u + 4u + 32u);
    for (uint64_t count : record.misuse)
        EXPECT_EQ(count, 0u);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->log.substr(device->log.size() - 4), "sdsd");
}

} // namespace
