// An I2C slave that writes down every hook as text: "w" / "r" for a start, "<12" for a byte it took, ">34"
// for a byte it sent, "P" for the end of its transfer. It answers reads with `first`, first + 1, ... and
// refuses the byte `nackByte` (-1: none).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/I2cBus.h"

class RecordingI2cSlave : public sim::I2cSlave {
public:
    explicit RecordingI2cSlave(uint8_t first = 0x10) : next_(first) {}
    bool Start(bool read) override {
        Add(read ? "r" : "w");
        return true;
    }
    bool Send(uint8_t byte) override {
        Add("<" + Hex(byte));
        return byte != nackByte;
    }
    uint8_t Recv() override {
        Add(">" + Hex(next_));
        return next_++;
    }
    void Stop() override { Add("P"); }

    std::string log;
    int nackByte = -1;

private:
    static std::string Hex(uint8_t b) {
        char t[4];
        std::snprintf(t, sizeof t, "%02X", b);
        return t;
    }
    void Add(const std::string& s) { log += (log.empty() ? "" : " ") + s; }
    uint8_t next_;
};
