// What stands behind a simulated card's TAP controller. The TAP model (driven by the card's GPIO lines)
// calls these on TCK rising edges in the matching states; the device answers with the level on TDO.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sim {

struct PciFunction;

class JtagDevice {
public:
    virtual ~JtagDevice() = default;
    // Test-Logic-Reset was entered: the instruction becomes IDCODE (or BYPASS without one).
    virtual void Reset() = 0;
    virtual uint32_t IrLength() const = 0;
    // Capture-IR / Capture-DR: the shift register takes its captured value.
    virtual void CaptureIr() = 0;
    virtual void CaptureDr() = 0;
    // One rising edge in Shift-IR / Shift-DR: the register shifts towards TDO, TDI enters at the far end.
    virtual void ShiftIr(bool tdi) = 0;
    virtual void ShiftDr(bool tdi) = 0;
    // Update-IR / Update-DR: the shifted value takes effect.
    virtual void UpdateIr() = 0;
    virtual void UpdateDr() = 0;
    // One rising edge in Run-Test/Idle (work that takes clocks, such as an erase, counts these).
    virtual void RunTestClock() = 0;
    // The level on TDO now: the bit the next shift moves out (meaningful in Shift-IR and Shift-DR).
    virtual bool Tdo() const = 0;
    // The end-of-update pulse on GPIO line 6 (a rising edge while the line is under GPIO control).
    virtual void DonePulse() = 0;
};

// The FPGA of the card described by `function`, the index-th Q740 card of the machine in `machineDir`
// (its configuration store lives in that folder, so it outlasts the process).
std::unique_ptr<JtagDevice> MakeFpga(const PciFunction& function, const std::string& machineDir, int index);

} // namespace sim
