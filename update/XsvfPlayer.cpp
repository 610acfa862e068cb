#include "update/XsvfPlayer.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>

#include "update/JtagPort.h"
#include "update/TapState.h"

namespace {

constexpr uint8_t kStateReset = uint8_t(TapState::TestLogicReset);
constexpr uint8_t kStateIdle = uint8_t(TapState::RunTestIdle);
constexpr uint8_t kStateShiftDr = uint8_t(TapState::ShiftDr);
constexpr uint8_t kStatePauseDr = uint8_t(TapState::PauseDr);
constexpr uint8_t kStateShiftIr = uint8_t(TapState::ShiftIr);
constexpr uint8_t kStatePauseIr = uint8_t(TapState::PauseIr);

// A run-test time of all ones in the stream means none.
constexpr int32_t kNoRunTest = -1;

constexpr uint32_t kCommandCount = 24;
constexpr size_t kBlockCount = XsvfBlocks::kCount;

uint32_t BytesForBits(uint64_t bits) {
    return uint32_t(std::min<uint64_t>((bits + 7) / 8, std::numeric_limits<uint32_t>::max()));
}

// Byte `k` counted from the least significant end; 0 beyond the vector's length.
uint8_t ByteFromEnd(const tagLenVal& value, uint32_t k) {
    return k < value.length ? value.bytes[value.length - 1 - k] : 0;
}

// Captured equals expected under the mask, over the expected value's length. Mask bytes the mask does not
// have compare every bit: a missing mask never turns a verify into a pass.
bool Matches(const tagLenVal& expected, const tagLenVal& captured, const tagLenVal* mask) {
    for (uint32_t k = 0; k < expected.length; ++k) {
        const uint8_t m = (mask != nullptr && k < mask->length) ? ByteFromEnd(*mask, k) : 0xFF;
        if (((ByteFromEnd(expected, k) ^ ByteFromEnd(captured, k)) & m) != 0)
            return false;
    }
    return true;
}

// The run-test time raised by a quarter of itself before a retried attempt, kept within 32 bits.
int32_t RaiseByQuarter(int32_t time) {
    const int64_t raised = int64_t(time) + (int64_t(time) >> 2);
    return int32_t(std::clamp<int64_t>(raised, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

uint32_t CountOneBits(const tagLenVal& value) {
    uint32_t count = 0;
    for (uint32_t i = 0; i < value.length; ++i) {
        for (uint32_t byte = value.bytes[i]; byte != 0; byte &= byte - 1)
            ++count;
    }
    return count;
}

// One shift of a vector with everything that decides how it is compared and where it ends.
struct ShiftRequest {
    uint8_t startState = kStateShiftDr;
    uint32_t bits = 0;
    const tagLenVal* tdi = nullptr;
    tagLenVal* captured = nullptr;       // none: TDO is not sampled
    const tagLenVal* expected = nullptr; // none: no comparison
    const tagLenVal* mask = nullptr;     // none: every bit counts
    uint8_t endState = kStateIdle;
    int32_t runTestTime = 0;
    uint32_t repeatLimit = 0;
};

struct tagXsvfState {
    uint8_t complete = 0;
    uint8_t command = 0;
    uint32_t commandCount = 0;
    int32_t error = 0;
    uint8_t tapState = 0;
    uint8_t endIr = kStateIdle;
    uint8_t endDr = kStateIdle;
    uint8_t repeatLimit = 0;
    int32_t runTestTime = 0;
    uint32_t sdrBits = 0;
    uint32_t sdrBytes = 0;
    tagLenVal tdi;
    tagLenVal expected;
    tagLenVal captured;
    tagLenVal tdoMask;
    tagLenVal addressMask;
    tagLenVal dataMask;
    tagLenVal nextData;
};

class XsvfInterpreter {
public:
    XsvfInterpreter(tagDeviceUpdate& job, RegisterBus& bus, const XsvfBlocks& blocks);
    int32_t Play();

private:
    using Handler = int32_t (XsvfInterpreter::*)();
    static const Handler kHandlers[kCommandCount];

    uint32_t Remaining() const;
    uint8_t TakeByte();
    void UpdatePercent(uint32_t consumed);
    bool ReadByte(uint8_t& value);
    int32_t ReadVector(tagLenVal& value, uint32_t length);
    int32_t ReadNumber(uint32_t length, uint32_t& number);
    int32_t Goto(uint8_t target);
    void Wait(int32_t microseconds);
    int32_t ShiftVector(const ShiftRequest& request);
    int32_t ShiftData(uint8_t endState, const tagLenVal* expected, const tagLenVal* mask, int32_t runTestTime,
                      uint32_t repeatLimit);
    int32_t ComparedShift();
    int32_t ShiftInstruction(uint32_t bits);

    int32_t DoComplete();
    int32_t DoTdoMask();
    int32_t DoSir();
    int32_t DoSdr();
    int32_t DoRunTest();
    int32_t DoRepeat();
    int32_t DoSdrSize();
    int32_t DoSdrTdo();
    int32_t DoSetSdrMasks();
    int32_t DoSdrInc();
    int32_t DoSdrStay();
    int32_t DoSdrEnd();
    int32_t DoSdrTdoStay();
    int32_t DoSdrTdoEnd();
    int32_t DoState();
    int32_t DoEndIr();
    int32_t DoEndDr();
    int32_t DoSir2();
    int32_t DoComment();
    int32_t DoWait();

    tagDeviceUpdate& job_;
    RegisterBus& bus_;
    tagXsvfState state_;
    uint32_t nextPercentAt_ = 0; // consumed count at which percent next changes; 0: at the next byte
};

const XsvfInterpreter::Handler XsvfInterpreter::kHandlers[kCommandCount] = {
    &XsvfInterpreter::DoComplete,    // 0x00 XCOMPLETE
    &XsvfInterpreter::DoTdoMask,     // 0x01 XTDOMASK
    &XsvfInterpreter::DoSir,         // 0x02 XSIR
    &XsvfInterpreter::DoSdr,         // 0x03 XSDR
    &XsvfInterpreter::DoRunTest,     // 0x04 XRUNTEST
    nullptr,                         // 0x05
    nullptr,                         // 0x06
    &XsvfInterpreter::DoRepeat,      // 0x07 XREPEAT
    &XsvfInterpreter::DoSdrSize,     // 0x08 XSDRSIZE
    &XsvfInterpreter::DoSdrTdo,      // 0x09 XSDRTDO
    &XsvfInterpreter::DoSetSdrMasks, // 0x0A XSETSDRMASKS
    &XsvfInterpreter::DoSdrInc,      // 0x0B XSDRINC
    &XsvfInterpreter::DoSdrStay,     // 0x0C XSDRB
    &XsvfInterpreter::DoSdrStay,     // 0x0D XSDRC
    &XsvfInterpreter::DoSdrEnd,      // 0x0E XSDRE
    &XsvfInterpreter::DoSdrTdoStay,  // 0x0F XSDRTDOB
    &XsvfInterpreter::DoSdrTdoStay,  // 0x10 XSDRTDOC
    &XsvfInterpreter::DoSdrTdoEnd,   // 0x11 XSDRTDOE
    &XsvfInterpreter::DoState,       // 0x12 XSTATE
    &XsvfInterpreter::DoEndIr,       // 0x13 XENDIR
    &XsvfInterpreter::DoEndDr,       // 0x14 XENDDR
    &XsvfInterpreter::DoSir2,        // 0x15 XSIR2
    &XsvfInterpreter::DoComment,     // 0x16 XCOMMENT
    &XsvfInterpreter::DoWait,        // 0x17 XWAIT
};

XsvfInterpreter::XsvfInterpreter(tagDeviceUpdate& job, RegisterBus& bus, const XsvfBlocks& blocks)
    : job_(job), bus_(bus) {
    tagLenVal* const vectors[kBlockCount] = {&state_.tdi,     &state_.expected,    &state_.captured,
                                             &state_.tdoMask, &state_.addressMask, &state_.dataMask,
                                             &state_.nextData};
    for (size_t i = 0; i < kBlockCount; ++i)
        vectors[i]->bytes = blocks.Block(int(i));
}

int32_t XsvfInterpreter::Play() {
    Goto(kStateReset);
    while (state_.error == 0 && state_.complete == 0) {
        if (state_.runTestTime == kNoRunTest)
            state_.runTestTime = 0;
        if (!ReadByte(state_.command)) {
            state_.error = kXsvfStreamEnded;
            break;
        }
        ++state_.commandCount;
        const Handler handler = state_.command < kCommandCount ? kHandlers[state_.command] : nullptr;
        state_.error = handler != nullptr ? (this->*handler)() : kXsvfIllegalCommand;
    }
    return state_.error;
}

// ---- Reading the stream ----

uint32_t XsvfInterpreter::Remaining() const {
    const uint32_t consumed = job_.consumed.load(std::memory_order_relaxed);
    return consumed < job_.streamSize ? job_.streamSize - consumed : 0;
}

// Takes one byte the caller has checked is there, and keeps the progress current.
uint8_t XsvfInterpreter::TakeByte() {
    const uint8_t value = *job_.stream++;
    const uint32_t consumed = job_.consumed.load(std::memory_order_relaxed) + 1;
    job_.consumed.store(consumed, std::memory_order_relaxed);
    if (consumed >= nextPercentAt_)
        UpdatePercent(consumed);
    return value;
}

// Percent is consumed * 100 / size after every byte, held at 99: the last byte read is not the end of the
// job, whose last command may still clock the chain for a long time; only the worker's finish stores 100.
// It changes only at the byte that reaches the next whole percent, so it is computed there, and the
// division stays out of the per-byte path.
void XsvfInterpreter::UpdatePercent(uint32_t consumed) {
    const uint64_t size = job_.streamSize;
    const uint32_t percent = std::min(uint32_t(uint64_t(consumed) * 100 / size), kRunningPercentLimit);
    job_.SetPercent(percent);
    nextPercentAt_ = percent >= kRunningPercentLimit ? std::numeric_limits<uint32_t>::max()
                                                     : uint32_t(((uint64_t(percent) + 1) * size + 99) / 100);
}

bool XsvfInterpreter::ReadByte(uint8_t& value) {
    if (Remaining() == 0)
        return false;
    value = TakeByte();
    return true;
}

int32_t XsvfInterpreter::ReadVector(tagLenVal& value, uint32_t length) {
    if (length > kMaxVectorBytes)
        return kXsvfDataOverflow;
    if (Remaining() < length)
        return kXsvfStreamEnded;
    value.length = length;
    for (uint32_t i = 0; i < length; ++i)
        value.bytes[i] = TakeByte();
    return 0;
}

// A big-endian number of `length` bytes, read through the TDI block as every vector is.
int32_t XsvfInterpreter::ReadNumber(uint32_t length, uint32_t& number) {
    const int32_t error = ReadVector(state_.tdi, length);
    if (error != 0)
        return error;
    number = 0;
    for (uint32_t i = 0; i < length; ++i)
        number = (number << 8) + state_.tdi.bytes[i];
    return 0;
}

// ---- Shifting ----

int32_t XsvfInterpreter::Goto(uint8_t target) {
    return GotoTapState(job_, bus_, state_.tapState, target);
}

// A wait of t microseconds is t TCK pulses in the current state. A TAP step leaves TCK high and a pulse
// starts by raising it, so TCK goes low first: otherwise the first pulse would give no rising edge, and
// the state would see one clock fewer than the stream asks for.
void XsvfInterpreter::Wait(int32_t microseconds) {
    if (microseconds <= 0)
        return;
    SetPort(job_, bus_, JtagLine::Tck, 0);
    WaitTck(job_, bus_, microseconds);
}

int32_t XsvfInterpreter::ShiftVector(const ShiftRequest& request) {
    int32_t runTestTime = request.runTestTime;
    if (request.bits == 0) {
        if (runTestTime != 0) {
            Goto(kStateIdle);
            Wait(runTestTime);
        }
        return 0;
    }
    const bool exit = request.startState != request.endState;
    uint8_t* const captured = request.captured != nullptr ? request.captured->bytes : nullptr;
    bool mismatch = false;
    uint32_t attempt = 0;
    bool again = false;
    do {
        Goto(request.startState);
        ShiftBits(job_, bus_, request.bits, request.tdi->bytes, request.tdi->length, captured, exit);
        if (request.captured != nullptr)
            request.captured->length = request.tdi->length;
        mismatch =
            request.expected != nullptr && !Matches(*request.expected, *request.captured, request.mask);
        if (exit) {
            ++state_.tapState; // the last bit left Shift-xR for Exit1-xR
            if (mismatch && runTestTime != 0 && attempt < request.repeatLimit) {
                Goto(kStatePauseDr);
                Goto(kStateShiftDr);
                runTestTime = RaiseByQuarter(runTestTime);
            } else {
                Goto(request.endState);
            }
            if (runTestTime != 0) {
                Goto(kStateIdle);
                Wait(runTestTime);
            }
        }
        again = mismatch && attempt < request.repeatLimit;
        ++attempt;
    } while (again);
    if (!mismatch)
        return 0;
    return (request.repeatLimit != 0 && attempt > request.repeatLimit) ? kXsvfMaxRetries : kXsvfTdoMismatch;
}

// A data shift of the current length from the TDI block, capturing TDO when there is something to compare.
int32_t XsvfInterpreter::ShiftData(uint8_t endState, const tagLenVal* expected, const tagLenVal* mask,
                                   int32_t runTestTime, uint32_t repeatLimit) {
    ShiftRequest request;
    request.startState = kStateShiftDr;
    request.bits = state_.sdrBits;
    request.tdi = &state_.tdi;
    request.captured = expected != nullptr ? &state_.captured : nullptr;
    request.expected = expected;
    request.mask = mask;
    request.endState = endState;
    request.runTestTime = runTestTime;
    request.repeatLimit = repeatLimit;
    return ShiftVector(request);
}

// The shift of XSDR, XSDRTDO and XSDRINC: against the expected value and TDO mask as last loaded, with the
// stream's timing and retries.
int32_t XsvfInterpreter::ComparedShift() {
    return ShiftData(state_.endDr, &state_.expected, &state_.tdoMask, state_.runTestTime, state_.repeatLimit);
}

int32_t XsvfInterpreter::ShiftInstruction(uint32_t bits) {
    const int32_t error = ReadVector(state_.tdi, BytesForBits(bits));
    if (error != 0)
        return error;
    ShiftRequest request;
    request.startState = kStateShiftIr;
    request.bits = bits;
    request.tdi = &state_.tdi;
    request.endState = state_.endIr;
    request.runTestTime = state_.runTestTime;
    return ShiftVector(request);
}

// ---- Command handlers ----

int32_t XsvfInterpreter::DoComplete() {
    state_.complete = 1;
    return 0;
}

int32_t XsvfInterpreter::DoTdoMask() {
    return ReadVector(state_.tdoMask, state_.sdrBytes);
}

int32_t XsvfInterpreter::DoSir() {
    uint8_t bits = 0;
    if (!ReadByte(bits))
        return kXsvfStreamEnded;
    return ShiftInstruction(bits);
}

int32_t XsvfInterpreter::DoSir2() {
    uint32_t bits = 0;
    const int32_t error = ReadNumber(2, bits);
    if (error != 0)
        return error;
    return ShiftInstruction(bits);
}

int32_t XsvfInterpreter::DoSdr() {
    const int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error != 0)
        return error;
    return ComparedShift();
}

int32_t XsvfInterpreter::DoSdrTdo() {
    int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error == 0)
        error = ReadVector(state_.expected, state_.sdrBytes);
    if (error != 0)
        return error;
    return ComparedShift();
}

int32_t XsvfInterpreter::DoRunTest() {
    uint32_t time = 0;
    const int32_t error = ReadNumber(4, time);
    if (error != 0)
        return error;
    state_.runTestTime = int32_t(time);
    return 0;
}

int32_t XsvfInterpreter::DoRepeat() {
    return ReadByte(state_.repeatLimit) ? 0 : kXsvfStreamEnded;
}

int32_t XsvfInterpreter::DoSdrSize() {
    uint32_t bits = 0;
    const int32_t error = ReadNumber(4, bits);
    if (error != 0)
        return error;
    state_.sdrBits = bits;
    state_.sdrBytes = BytesForBits(bits);
    return state_.sdrBytes > kMaxVectorBytes ? kXsvfDataOverflow : 0;
}

int32_t XsvfInterpreter::DoSetSdrMasks() {
    int32_t error = ReadVector(state_.addressMask, state_.sdrBytes);
    if (error == 0)
        error = ReadVector(state_.dataMask, state_.sdrBytes);
    return error;
}

int32_t XsvfInterpreter::DoSdrInc() {
    int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error == 0)
        error = ComparedShift();
    if (error != 0)
        return error;
    const uint32_t nextDataBytes = BytesForBits(CountOneBits(state_.dataMask));
    uint8_t count = 0;
    if (!ReadByte(count))
        return kXsvfStreamEnded;
    for (uint32_t i = 0; i < count; ++i) {
        error = ReadVector(state_.nextData, nextDataBytes);
        if (error != 0)
            return error;
        ApplySdrMasks(state_.tdi, state_.addressMask, state_.dataMask, state_.nextData);
        error = ComparedShift();
        if (error != 0)
            return error;
    }
    return 0;
}

// XSDRB, XSDRC: uncompared, and the TAP stays in Shift-DR for the next part of the vector.
int32_t XsvfInterpreter::DoSdrStay() {
    const int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error != 0)
        return error;
    return ShiftData(kStateShiftDr, nullptr, nullptr, 0, 0);
}

int32_t XsvfInterpreter::DoSdrEnd() {
    const int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error != 0)
        return error;
    return ShiftData(state_.endDr, nullptr, nullptr, 0, 0);
}

// XSDRTDOB, XSDRTDOC: compared without mask or retries, staying in Shift-DR.
int32_t XsvfInterpreter::DoSdrTdoStay() {
    int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error == 0)
        error = ReadVector(state_.expected, state_.sdrBytes);
    if (error != 0)
        return error;
    return ShiftData(kStateShiftDr, &state_.expected, nullptr, 0, 0);
}

int32_t XsvfInterpreter::DoSdrTdoEnd() {
    int32_t error = ReadVector(state_.tdi, state_.sdrBytes);
    if (error == 0)
        error = ReadVector(state_.expected, state_.sdrBytes);
    if (error != 0)
        return error;
    return ShiftData(state_.endDr, &state_.expected, nullptr, 0, 0);
}

int32_t XsvfInterpreter::DoState() {
    uint8_t target = 0;
    if (!ReadByte(target))
        return kXsvfStreamEnded;
    return Goto(target); // refuses numbers above 15 and Exit2 from outside its Pause state
}

int32_t XsvfInterpreter::DoEndIr() {
    uint8_t operand = 0;
    if (!ReadByte(operand))
        return kXsvfStreamEnded;
    if (operand > 1)
        return kXsvfIllegalState;
    state_.endIr = operand == 0 ? kStateIdle : kStatePauseIr;
    return 0;
}

int32_t XsvfInterpreter::DoEndDr() {
    uint8_t operand = 0;
    if (!ReadByte(operand))
        return kXsvfStreamEnded;
    if (operand > 1)
        return kXsvfIllegalState;
    state_.endDr = operand == 0 ? kStateIdle : kStatePauseDr;
    return 0;
}

int32_t XsvfInterpreter::DoComment() {
    uint8_t byte = 0;
    do {
        if (!ReadByte(byte))
            return kXsvfStreamEnded;
    } while (byte != 0);
    return 0;
}

// A refused move inside the wait is not an error; a number that names no state is.
int32_t XsvfInterpreter::DoWait() {
    uint8_t waitState = 0;
    uint8_t endState = 0;
    if (!ReadByte(waitState) || !ReadByte(endState))
        return kXsvfStreamEnded;
    uint32_t time = 0;
    const int32_t error = ReadNumber(4, time);
    if (error != 0)
        return error;
    if (waitState >= kTapStateCount || endState >= kTapStateCount)
        return kXsvfIllegalState;
    if (state_.tapState != waitState)
        Goto(waitState);
    Wait(int32_t(time));
    if (state_.tapState != endState)
        Goto(endState);
    return 0;
}

} // namespace

void ApplySdrMasks(tagLenVal& tdi, const tagLenVal& addressMask, const tagLenVal& dataMask,
                   const tagLenVal& nextData) {
    uint32_t carry = 0;
    for (uint32_t k = 0; k < tdi.length; ++k) {
        uint8_t& byte = tdi.bytes[tdi.length - 1 - k];
        const uint32_t sum = uint32_t(byte) + ByteFromEnd(addressMask, k) + carry;
        byte = uint8_t(sum);
        carry = sum > 0xFF ? 1 : 0;
    }

    uint32_t nextIndex = 0; // next-data bits used so far, least significant first
    for (uint32_t k = 0; k < dataMask.length; ++k) {
        const uint8_t mask = ByteFromEnd(dataMask, k);
        for (uint32_t bit = 0; bit < 8; ++bit) {
            if ((mask & (1u << bit)) == 0)
                continue;
            const uint32_t value = (ByteFromEnd(nextData, nextIndex / 8) >> (nextIndex % 8)) & 1;
            ++nextIndex;
            if (k >= tdi.length)
                continue;
            uint8_t& byte = tdi.bytes[tdi.length - 1 - k];
            byte = uint8_t((byte & ~(1u << bit)) | (value << bit));
        }
    }
}

bool XsvfBlocks::Allocate() {
    try {
        for (auto& block : blocks_) {
            if (!block)
                block.reset(new uint8_t[kMaxVectorBytes]);
        }
    } catch (const std::bad_alloc&) {
        for (auto& block : blocks_)
            block.reset();
        return false;
    }
    return true;
}

int32_t PlayXsvf(tagDeviceUpdate& job, RegisterBus& bus) {
    XsvfBlocks blocks;
    if (!blocks.Allocate())
        return kXsvfOutOfMemory;
    return PlayXsvf(job, bus, blocks);
}

int32_t PlayXsvf(tagDeviceUpdate& job, RegisterBus& bus, const XsvfBlocks& blocks) {
    for (int i = 0; i < XsvfBlocks::kCount; ++i) {
        if (blocks.Block(i) == nullptr)
            return kXsvfOutOfMemory; // never allocated, or the allocation failed
    }
    XsvfInterpreter interpreter(job, bus, blocks);
    return interpreter.Play();
}
