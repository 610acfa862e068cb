#include "fakes/RecordingRegisterBus.h"

#include <ios>

namespace {

constexpr uint32_t kOutputRegister = 0x179C;
constexpr uint32_t kTck = 0x20000000;
constexpr uint32_t kTms = 0x20;
constexpr uint32_t kTdi = 0x800;

const char* Name(RegOp op) {
    switch (op) {
    case RegOp::ReadMem:
        return "ReadMem";
    case RegOp::WriteMem:
        return "WriteMem";
    case RegOp::ReadConfig:
        return "ReadConfig";
    case RegOp::WriteConfig:
        return "WriteConfig";
    }
    return "?";
}

} // namespace

std::ostream& operator<<(std::ostream& out, const RegAccess& access) {
    return out << Name(access.op) << std::hex << "(0x" << access.offset << ", 0x" << access.value << ")"
               << std::dec;
}

uint32_t RecordingRegisterBus::ReadMem(uintptr_t base, uint32_t offset) {
    lastBase = base;
    uint32_t value = 0;
    auto queue = queued_.find(offset);
    if (queue != queued_.end() && !queue->second.empty()) {
        value = queue->second.front();
        queue->second.pop_front();
    } else {
        value = mem[offset];
    }
    Record({RegOp::ReadMem, offset, value});
    return value;
}

void RecordingRegisterBus::WriteMem(uintptr_t base, uint32_t offset, uint32_t value) {
    lastBase = base;
    Record({RegOp::WriteMem, offset, value});
    mem[offset] = value;
}

uint32_t RecordingRegisterBus::ReadConfig(uint32_t hPci, uint32_t offset) {
    lastPciHandle = hPci;
    const uint32_t value = config[offset];
    Record({RegOp::ReadConfig, offset, value});
    return value;
}

void RecordingRegisterBus::WriteConfig(uint32_t hPci, uint32_t offset, uint32_t value) {
    lastPciHandle = hPci;
    Record({RegOp::WriteConfig, offset, value});
    config[offset] = value;
}

void RecordingRegisterBus::Record(const RegAccess& access) {
    ++accessCount;
    if (recording)
        log.push_back(access);
}

void RecordingRegisterBus::QueueRead(uint32_t offset, std::vector<uint32_t> values) {
    auto& queue = queued_[offset];
    queue.insert(queue.end(), values.begin(), values.end());
}

std::vector<uint32_t> RecordingRegisterBus::Values(RegOp op, uint32_t offset) const {
    std::vector<uint32_t> values;
    for (const RegAccess& access : log) {
        if (access.op == op && access.offset == offset)
            values.push_back(access.value);
    }
    return values;
}

std::vector<TckEdge> RisingEdges(const std::vector<RegAccess>& log, uint32_t initial) {
    std::vector<TckEdge> edges;
    uint32_t level = initial;
    for (const RegAccess& access : log) {
        if (access.op != RegOp::WriteMem || access.offset != kOutputRegister)
            continue;
        if ((access.value & kTck) != 0 && (level & kTck) == 0) {
            const bool stable = ((access.value ^ level) & (kTms | kTdi)) == 0;
            edges.push_back({(access.value & kTms) != 0, (access.value & kTdi) != 0, stable});
        }
        level = access.value;
    }
    return edges;
}
