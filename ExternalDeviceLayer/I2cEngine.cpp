#include "ExternalDeviceLayer/I2cEngine.h"

#include "ExternalDeviceLayer/I2cSettings.h"

using namespace regs;

namespace {

using Control = TRegGENERIC_I2C_CONTROL;
using Speed = TRegGENERIC_I2C_SPEED;
using Pins = TRegGENERIC_I2C_PIN_SELECTION;
using Tx = TRegGENERIC_I2C_TRANSACTION;
using Data = TRegGENERIC_I2C_DATA;

constexpr uint32_t kReferenceKhz = 13500;
constexpr uint32_t kClockPin = 0x29;
constexpr uint32_t kDataPin = 0x28;
constexpr uint32_t kNoPin = 0x7F;
constexpr uint32_t kThreshold = 2;
constexpr uint32_t kTimeLimit = 0xFF;

} // namespace

uint32_t I2cPrescale(uint32_t speedKhz) {
    if (speedKhz == 0)
        return 0;
    uint32_t prescale = kReferenceKhz / speedKhz;
    if (kReferenceKhz % speedKhz >= speedKhz / 2)
        ++prescale;
    return prescale & 0xFFFF;
}

int CI2cEngine::I2cEngineAcquire() {
    CRegs<Control> control(window_);
    control.Read();
    control.value = Control::Low::Get(Control::Enable::Set(control.value, 1)) | Control::Mode::Make<1>();
    control.Write();

    control.Read();
    control.Set<Control::SoftReset>(1);
    control.Write();
    control.Set<Control::SoftReset>(0);
    control.Write();

    CRegs<Pins> pins(window_);
    pins.Read();
    pins.Set<Pins::ClockPin>(kClockPin);
    pins.Set<Pins::DataPin>(kDataPin);
    pins.Write();

    CRegs<TRegGENERIC_I2C_SETUP> setup(window_);
    setup.Read();
    setup.Set<TRegGENERIC_I2C_SETUP::TimeLimit>(kTimeLimit);
    setup.Write();

    CRegs<Speed> speed(window_);
    speed.Read();
    speed.Set<Speed::Threshold>(kThreshold);
    speed.Set<Speed::Filter>(0);
    speed.Set<Speed::Prescale>(I2cPrescale(I2cSettings().SpeedKhz()));
    speed.Write();
    return 1;
}

int CI2cEngine::I2cEngineRelease() {
    CRegs<Pins> pins(window_);
    pins.Read();
    pins.Set<Pins::ClockPin>(kNoPin);
    pins.Set<Pins::DataPin>(kNoPin);
    pins.Write();

    CRegs<Control> control(window_);
    control.Read();
    control.Set<Control::Enable>(0);
    control.Write();
    return 1;
}

int CI2cEngine::I2cEngineGo() {
    CRegs<Control> control(window_);
    control.Read();
    control.Set<Control::Go>(1);
    control.Write();

    CRegs<TRegGENERIC_I2C_STATUS> status(window_);
    for (uint32_t i = 0; i < kI2cGoStatusReads; ++i)
        if (TRegGENERIC_I2C_STATUS::Done::Get(status.Read()) != 0)
            return 1;
    return 0;
}

void CI2cEngine::LoadByte(uint32_t byte, bool indexWrite) {
    CRegs<Data> data(window_);
    data.value = Data::Byte::Set(0, byte) | (indexWrite ? Data::IndexWrite::Make<1>() : 0);
    data.Write();
}

int CI2cEngine::Transaction(bool read, bool ack, bool start, bool stop, uint32_t count) {
    CRegs<Tx> tx(window_);
    tx.value = Tx::Read::Set(0, read ? 1 : 0) | Tx::StopOnNack::Make<1>() | Tx::Ack::Set(0, ack ? 1 : 0) |
               Tx::Start::Set(0, start ? 1 : 0) | Tx::Stop::Set(0, stop ? 1 : 0) | Tx::Count::Set(0, count);
    tx.Write();
    return I2cEngineGo();
}

// The slave address (index 0) and the sub-address bytes, most significant first, in one transaction
// that starts and holds the bus.
int CI2cEngine::SendHeader(const tagI2cMessage& message) {
    const uint32_t width = message.subAddressWidth;
    LoadByte(message.slaveAddress & 0xFF, true);
    for (uint32_t i = 0; i < width; ++i)
        LoadByte((message.subAddress >> (8 * (width - 1 - i))) & 0xFF, false);
    return Transaction(false, false, true, false, width);
}

int CI2cEngine::I2cEngineWrite(const tagI2cMessage& message) {
    if (message.subAddressWidth > kI2cMaxSubAddressWidth)
        return 0;
    int result = SendHeader(message);
    // The data bytes follow even when the header did not finish, one transaction each, the stop after the
    // last; the first data transaction that does not finish ends the message.
    const int32_t count = message.data.Size();
    for (int32_t i = 0; i < count; ++i) {
        LoadByte(message.data[i], true);
        result = Transaction(false, false, false, i + 1 == count, 0);
        if (!result)
            break;
    }
    return result;
}

int CI2cEngine::I2cEngineRead(tagI2cMessage& message) {
    if (message.subAddressWidth > kI2cMaxSubAddressWidth)
        return 0;
    if (!SendHeader(message))
        return 0;
    LoadByte((message.slaveAddress | 1) & 0xFF, true);
    if (!Transaction(true, false, true, false, 0))
        return 0;
    const int32_t count = message.data.Size();
    for (int32_t i = 0; i < count; ++i) {
        const bool last = i + 1 == count;
        if (!Transaction(true, !last, false, last, 0))
            return 0;
        CRegs<Data> data(window_);
        data.value = Data::Read::Make<1>() | Data::IndexWrite::Make<1>();
        data.Write();
        message.data[i] = static_cast<unsigned char>(Data::Byte::Get(data.Read()));
    }
    return 1;
}
