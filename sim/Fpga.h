// The Q740's FPGA as its JTAG port and configuration store see it, and the programming protocol our update
// streams speak to it (tools/xsvfgen writes them). docs/SIMULATOR.md describes the protocol in full.
//
// Per card, from the card's [pci N] section of the machine description:
//   fpga-ir            instruction register length, 5..32 (default 6)
//   fpga-idcode        the IDCODE (default 0x174000B5)
//   fpga-erase-clocks  Run-Test/Idle clocks an erase takes (default 5000)
//   fpga-store-size    bytes the configuration store holds (default 16 MiB)
//   fpga-version       the version the card runs before any update (default 1.6.10)
//   fpga-verify-fails  read-back returns wrong data (fault)
//   fpga-busy          stays busy forever after an erase starts (fault)
//
// The configuration store is DIR/cards/<bus>-<device>.<function>/config.bin (the configuration data as
// programmed, from the start marker on; absent: the factory image, which runs `fpga-version`); the version
// the FPGA runs is in "running-version" beside it (absent: `fpga-version`). The FPGA loads the store only at
// the end-of-update pulse (or a reload): a complete, valid image runs its version, anything else leaves the
// FPGA unconfigured (0.0.0). Plain standard C++ (files through std::fstream and std::filesystem only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/FpgaImage.h"
#include "sim/JtagDevice.h"

namespace sim {

namespace fpga {

constexpr uint32_t kDefaultIrLength = 6;
// Version 1, part 0x7400 (the Q740's configuration port), maker code 0x05A, bit 0 set as IDCODEs have it.
constexpr uint32_t kDefaultIdcode = 0x174000B5;
// What identification compares: everything but the 4-bit silicon version.
constexpr uint32_t kIdcodeMask = 0x0FFFFFFF;
constexpr uint32_t kDefaultEraseClocks = 5000;
constexpr uint32_t kDefaultStoreBytes = 16u << 20;

// Instructions. Every other code selects BYPASS (all ones is BYPASS by rule).
constexpr uint32_t kIrIdcode = 0x09;  // DR 32: the IDCODE
constexpr uint32_t kIrEnable = 0x10;  // DR 32: Update-DR with kEnableKey enters configuration mode
constexpr uint32_t kIrErase = 0x11;   // DR 32: Update-DR with kEraseKey starts the erase (busy)
constexpr uint32_t kIrStatus = 0x12;  // DR 8: captures the status byte
constexpr uint32_t kIrAddress = 0x13; // DR 32: captures the word pointer; Update-DR sets it
constexpr uint32_t kIrProgram = 0x14; // DR 64: address << 32 | word; captures the status in bits 7..0
constexpr uint32_t kIrBurst = 0x15;   // DR 32 per word: each 32nd bit writes the word at the pointer, ++
constexpr uint32_t kIrRead = 0x16;    // DR 32 per word: shifts out the words from the pointer on
constexpr uint32_t kIrDone = 0x17;    // DR 1: Update-IR leaves configuration mode and commits the store

constexpr uint32_t kEnableKey = 0x5645534B; // "VESK"
constexpr uint32_t kEraseKey = 0x45524153;  // "ERAS"

// Status byte.
constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusEnabled = 0x02;
constexpr uint8_t kStatusErased = 0x04; // an erase completed in this configuration session
constexpr uint8_t kStatusError = 0x08;  // a refused erase or write since configuration mode was entered
constexpr uint8_t kStatusSignature = 0xA0;
constexpr uint8_t kStatusSignatureMask = 0xF0;

// What read-back returns in place of each word when `fpga-verify-fails` is set: the word with this bit
// flipped.
constexpr uint32_t kVerifyFaultBit = 0x00010000;

} // namespace fpga

// The folder of the card's FPGA files: DIR/cards/03-00.0 (a colon cannot be part of a Windows file name).
std::string FpgaFolder(const std::string& machineDir, const PciFunction& function);

// Checks the card's FPGA keys; false with a message naming the card and key on a bad value (the FPGA itself
// then uses that key's default).
bool CheckFpgaSettings(const PciFunction& function, std::string& error);

// The version the card's FPGA runs now: the last one loaded, else the description's `fpga-version`. False
// (outputs untouched) when the stored or described version cannot be read; `why` then says which key or
// file is bad.
bool ReadFpgaVersion(const std::string& machineDir, const PciFunction& function, int index, uint8_t& major,
                     uint8_t& minor, uint8_t& build, std::string* why = nullptr);

// Loads the store as the end-of-update pulse does (a power-on of the card, for a machine restart). False when
// the description of the card is bad; the FPGA is then left as it was.
bool ReloadFpga(const std::string& machineDir, const PciFunction& function, int index);

// Configures the card's FPGA from other configuration data, such as its SPI flash holds after a flash-image
// update: a valid image (from the start marker on) runs its version, anything else leaves the FPGA
// unconfigured. The store is not changed. False when the running version cannot be written.
bool ConfigureFpgaFrom(const std::string& machineDir, const PciFunction& function, int index,
                       const uint8_t* data, size_t size);

} // namespace sim
