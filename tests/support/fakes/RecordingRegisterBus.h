// A register bus that records every access as (op, offset, value) and behaves as a plain register file:
// a read returns the value last written to that offset (or one preset), unless values were queued for it.
// Tests compare short golden transcripts, and feed TDO by queueing values for the GPIO input register.
// Single-threaded: give each worker its own bus.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <ostream>
#include <vector>

#include "ExternalDeviceLayer/RegisterBus.h"

enum class RegOp { ReadMem, WriteMem, ReadConfig, WriteConfig };

struct RegAccess {
    RegOp op;
    uint32_t offset;
    uint32_t value;
    bool operator==(const RegAccess& other) const {
        return op == other.op && offset == other.offset && value == other.value;
    }
};

std::ostream& operator<<(std::ostream& out, const RegAccess& access);

class RecordingRegisterBus : public RegisterBus {
public:
    uint32_t ReadMem(uintptr_t base, uint32_t offset) override;
    void WriteMem(uintptr_t base, uint32_t offset, uint32_t value) override;
    uint32_t ReadConfig(uint32_t hPci, uint32_t offset) override;
    void WriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) override;

    // Values the next reads of a window register return, in order, before the register file is used again.
    void QueueRead(uint32_t offset, std::vector<uint32_t> values);
    // Accesses of one kind at one offset.
    std::vector<uint32_t> Values(RegOp op, uint32_t offset) const;

    std::vector<RegAccess> log;
    // Off: accesses are only counted, for long runs whose transcript no test looks at.
    bool recording = true;
    uint64_t accessCount = 0;
    std::map<uint32_t, uint32_t> mem;    // window registers by offset
    std::map<uint32_t, uint32_t> config; // configuration dwords by offset
    uintptr_t lastBase = 0;
    uint32_t lastPciHandle = 0;

private:
    void Record(const RegAccess& access);

    std::map<uint32_t, std::deque<uint32_t>> queued_;
};

// One TCK rising edge seen in the writes to the GPIO output register, with the TMS and TDI levels then.
// `stable`: the write before the edge already carried the same TMS and TDI, so the data lines were settled
// before the clock rose.
struct TckEdge {
    bool tms;
    bool tdi;
    bool stable;
};

// Decodes the writes of a transcript to the GPIO output register (0x179C) into TCK rising edges, starting
// from an output register that holds `initial`.
std::vector<TckEdge> RisingEdges(const std::vector<RegAccess>& log, uint32_t initial = 0);
