#include "sim/CardI2c.h"

#include <cstdio>

#include "sim/Fields.h"
#include "sim/Fpga.h"

namespace sim {

namespace {

// The keys as a flat record, read through one table.
struct CardI2cKeys {
    uint32_t misreadKhz = 0;
    bool clockHeld = false;
    bool neverDone = false;
    std::string silent;
    std::string silentAfterUpdate;
    std::string flashPart;
    bool flashLocked = false;
    bool flashAbsent = false;
};

const std::vector<Field<CardI2cKeys>>& CardI2cFields() {
    using K = CardI2cKeys;
    static const std::vector<Field<K>> fields = {
        NumberField<K>("i2c-misread-khz", &K::misreadKhz),
        BoolField<K>("i2c-clock-held", &K::clockHeld),
        BoolField<K>("i2c-never-done", &K::neverDone),
        TextField<K>("i2c-silent", &K::silent),
        TextField<K>("i2c-silent-after-update", &K::silentAfterUpdate),
        TextField<K>("flash-part", &K::flashPart),
        BoolField<K>("flash-locked", &K::flashLocked),
        BoolField<K>("flash-absent", &K::flashAbsent),
    };
    return fields;
}

// "D0;D4" (case and blanks ignored) into the three switches; false for anything else.
bool ParseSilent(const std::string& text, std::array<bool, 3>& silent) {
    std::array<bool, 3> parsed{};
    size_t from = 0;
    while (from <= text.size()) {
        size_t end = text.find(';', from);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = FoldCaseAscii(Trim(text.substr(from, end - from)));
        if (!item.empty()) {
            size_t i = 0;
            const std::string withPrefix = FoldCaseAscii(item.size() > 2 ? item : "0x" + item);
            while (i < fpgai2c::kSlaveAddresses.size() &&
                   withPrefix != FoldCaseAscii(Hex(fpgai2c::kSlaveAddresses[i], 2)))
                ++i;
            if (i == fpgai2c::kSlaveAddresses.size())
                return false;
            parsed[i] = true;
        }
        from = end + 1;
    }
    silent = parsed;
    return true;
}

} // namespace

bool ReadCardI2cSettings(const PciFunction& function, const std::string& machineDir, int index,
                         CardI2cSettings& settings, std::string& error) {
    CardI2cKeys keys;
    FieldError bad = ReadFields(CardI2cFields(), function.extra, keys);
    settings.bus.misreadFromKhz = keys.misreadKhz;
    settings.bus.clockHeld = keys.clockHeld;
    settings.engine.neverDone = keys.neverDone;
    if (!ParseSilent(keys.silent, settings.fpga.silent) && !bad)
        bad = {"i2c-silent", keys.silent};
    if (!ParseSilent(keys.silentAfterUpdate, settings.fpga.silentAfterUpdate) && !bad)
        bad = {"i2c-silent-after-update", keys.silentAfterUpdate};
    uint8_t major = 0, minor = 0, build = 0;
    if (ReadFpgaVersion(machineDir, function, index, major, minor, build))
        settings.fpga.version = FirmwareVersion{major, minor, build};
    for (SpiFlashSettings& flash : settings.flash) {
        if (!keys.flashPart.empty())
            flash.part = keys.flashPart;
        flash.factoryVersion = settings.fpga.version;
        // Every block protected and the status register locked by the lock bit with WP# held low.
        flash.protectAtPowerUp = flash.writeProtectPin = keys.flashLocked;
        flash.absent = keys.flashAbsent;
    }
    std::string partError;
    if (!CheckSpiFlashSettings(settings.flash[0], partError) && !bad)
        bad = {"flash-part", keys.flashPart};
    KeepFlashesInMachine(settings, machineDir, function);
    if (bad)
        error = "[pci] " + function.Location() + ": bad value of " + bad.key;
    return !bad;
}

void KeepFlashesInMachine(CardI2cSettings& settings, const std::string& machineDir,
                          const PciFunction& function) {
    for (size_t i = 0; i < settings.flash.size(); ++i)
        settings.flash[i].file = FlashFilePath(machineDir, function, fpgai2c::kSlaveAddresses[i]);
}

bool RestartCardFlashes(const std::string& machineDir, const MachineDescription& machine,
                        std::string& error) {
    bool ok = true;
    int index = 0;
    for (const PciFunction& function : machine.pci) {
        if (function.kind != FunctionKind::Q740)
            continue;
        CardI2cSettings settings;
        std::string ignored;
        ReadCardI2cSettings(function, machineDir, index, settings, ignored); // bad keys: defaults
        std::string why;
        for (const SpiFlashSettings& flash : settings.flash) {
            if (!PowerCycleFlashFile(flash, why) && ok) {
                error = function.Location() + ": " + why;
                ok = false;
            }
        }
        FirmwareVersion running;
        if (BootFpgaFromFlash(machineDir, function, index, running, why) == FlashBoot::Failed && ok) {
            error = function.Location() + ": " + why;
            ok = false;
        }
        ++index;
    }
    return ok;
}

std::array<std::unique_ptr<SpiFlash>, 3> CardI2c::MakeFlashes(const CardI2cSettings& settings) {
    std::array<std::unique_ptr<SpiFlash>, 3> flashes;
    for (size_t i = 0; i < flashes.size(); ++i)
        flashes[i] = std::make_unique<SpiFlash>(settings.flash[i]);
    return flashes;
}

std::array<SpiDevice*, 3> CardI2c::Devices(const std::array<std::unique_ptr<SpiFlash>, 3>& flashes) {
    return {flashes[0].get(), flashes[1].get(), flashes[2].get()};
}

CardI2c::CardI2c(const CardI2cSettings& settings)
    : bus_(settings.bus), flashes_(MakeFlashes(settings)), engine_(bus_, settings.engine),
      fpga_(bus_, settings.fpga, Devices(flashes_)) {}

void CardI2c::SetTrace(Trace* trace) {
    bus_.SetTrace(trace);
    engine_.SetTrace(trace);
    for (size_t i = 0; i < flashes_.size(); ++i) {
        char name[4];
        std::snprintf(name, sizeof name, "%02X", fpgai2c::kSlaveAddresses[i]);
        flashes_[i]->SetTrace(trace, name);
        fpga_.Slave(int(i)).Bridge().SetTrace(trace);
    }
}

} // namespace sim
