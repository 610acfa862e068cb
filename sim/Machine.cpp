#include "sim/Machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <tuple>

#include "sim/Files.h"
#include "sim/Registry.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"

namespace sim {

namespace {

bool ParseWindows(MachineDescription& m, const std::string& v) {
    const size_t dot = v.find('.');
    uint32_t major = 0, minor = 0;
    if (dot == std::string::npos || !ParseU32(v.substr(0, dot), major) || !ParseU32(v.substr(dot + 1), minor))
        return false;
    m.windowsMajor = major;
    m.windowsMinor = minor;
    return true;
}

const char* const kCreateFails[] = {"none", "first", "both"};

bool ParseCreateFails(MachineDescription& m, const std::string& v) {
    const std::string t = FoldCaseAscii(Trim(v));
    for (uint32_t i = 0; i < 3; ++i)
        if (t == FoldCaseAscii(kCreateFails[i])) {
            m.adlCreateFails = i;
            return true;
        }
    return false;
}

} // namespace

const std::vector<Field<MachineDescription>>& MachineFields() {
    using M = MachineDescription;
    static const std::vector<Field<M>> fields = {
        {"windows", ParseWindows,
         [](const M& m) { return std::to_string(m.windowsMajor) + "." + std::to_string(m.windowsMinor); },
         WithValue("--windows", "MAJOR.MINOR")},
        BoolField<M>("os64", &M::os64, Flag("--os32", "0")),
        NumberField<M>("mhz", &M::processorMhz, 0, WithValue("--mhz", "N")),
        TextField<M>("program", &M::programPath, WithValue("--program", "PATH")),
        TextField<M>("command-name", &M::commandName, WithValue("--command-name", "NAME")),
        ChoiceField<M>("clock", &M::virtualClock, "virtual", "real", Flag("--virtual-clock", "virtual")),
        BoolField<M>("display-driver", &M::displayDriverInstalled, Flag("--no-driver", "0")),
        BoolField<M>("desktop-manager", &M::desktopManagerInstalled, Flag("--no-desktop-manager", "0")),
        BoolField<M>("hw-service", &M::hwServiceInstalled, Flag("--service-installed", "1")),
        TextField<M>("hw-service-missing", &M::hwServiceMissing, Repeated("--service-missing", "EXPORT")),
        TextField<M>("locked-files", &M::lockedFiles, Repeated("--locked-file", "PATH")),
        BoolField<M>("display-library", &M::displayLibrary, Flag("--display-library", "1")),
        TextField<M>("adl-missing", &M::adlMissing, Repeated("--adl-missing", "NAME")),
        NumberField<M>("adl-fails", &M::adlFailures, 0, WithValue("--adl-fails", "N")),
        {"adl-create-fails", ParseCreateFails,
         [](const M& m) { return std::string(kCreateFails[m.adlCreateFails % 3]); },
         WithValue("--adl-create-fails", "none|first|both")},
        RangeField<M>("adl-records", &M::adlRecords, 1, 16, WithValue("--adl-records", "N")),
        ChoiceField<M>("restart-moves", &M::restartMovesFail, "fail", "ok",
                       Flag("--restart-moves-fail", "fail")),
    };
    return fields;
}

namespace {

const char* KindName(FunctionKind kind) {
    switch (kind) {
    case FunctionKind::Q740:
        return "q740";
    case FunctionKind::Display:
        return "display";
    case FunctionKind::Other:
        break;
    }
    return "other";
}

const std::vector<Field<PciFunction>>& PciFields() {
    using P = PciFunction;
    static const std::vector<Field<P>> fields = [] {
        std::vector<Field<P>> f = {
            {"location",
             [](P& p, const std::string& v) {
                 unsigned bus = 0, dev = 0, fn = 0;
                 char tail = 0;
                 return std::sscanf(v.c_str(), "%x:%x.%x%c", &bus, &dev, &fn, &tail) == 3 && bus < 256 &&
                        dev < 32 && fn < 8 && (p.bus = bus, p.device = dev, p.function = fn, true);
             },
             [](const P& p) { return p.Location(); }},
            {"kind",
             [](P& p, const std::string& v) {
                 const std::string t = FoldCaseAscii(v);
                 if (t != "Q740" && t != "DISPLAY" && t != "OTHER")
                     return false;
                 p.kind = t == "Q740"      ? FunctionKind::Q740
                          : t == "DISPLAY" ? FunctionKind::Display
                                           : FunctionKind::Other;
                 return true;
             },
             [](const P& p) { return std::string(KindName(p.kind)); }},
            NumberField<P>("vendor", &P::vendorId, 4),
            NumberField<P>("device", &P::deviceId, 4),
            NumberField<P>("subsystem", &P::subsystem, 8),
            NumberField<P>("revision", &P::revision, 2),
            NumberField<P>("class", &P::classCode, 6),
        };
        for (size_t i = 0; i < 6; ++i) {
            static const char* const kNames[] = {"bar0", "bar1", "bar2", "bar3", "bar4", "bar5"};
            f.push_back({kNames[i], [i](P& p, const std::string& v) { return ParseU32(v, p.bars[i]); },
                         [i](const P& p) { return Hex(p.bars[i], 8); }});
        }
        f.push_back(ChoiceField<P>("map", &P::mapFails, "fail", "ok"));
        f.push_back(TextField<P>("trace", &P::tracePath));
        return f;
    }();
    return fields;
}

// Reads the entries of one section through a field table; unknown keys go to `extra`.
template <class S>
bool ApplyFields(const std::vector<Field<S>>& fields, const IniSection& section, S& target, KeyValues& extra,
                 std::string& error) {
    const FieldError bad = ReadFields(fields, section.entries, target, &extra);
    if (bad)
        error = "[" + section.name + "] " + bad.key + ": bad value \"" + bad.value + "\"";
    return !bad;
}

template <class S>
void WriteFields(const std::vector<Field<S>>& fields, const S& source, const KeyValues& extra,
                 IniSection& section) {
    WriteFields(fields, source, section.entries);
    for (const auto& entry : extra)
        section.entries.push_back(entry);
}

} // namespace
uint64_t PciFunction::RegisterWindow() const {
    const bool bar0Is64 = (bars[0] & 0x7) == 0x4;
    const uint64_t low = (bar0Is64 ? bars[2] : bars[1]) & 0xFFFFFF00u;
    const uint64_t high = bar0Is64 ? bars[3] : 0;
    return high << 32 | low;
}

void PciFunction::SetRegisterWindow(uint64_t address, bool bar0Is64) {
    const uint32_t frameBuffer = 0x80000000u + ((bus & 7) << 27);
    bars = {0, 0, 0, 0, 0, bars[5]};
    if (bar0Is64) {
        bars[0] = frameBuffer | 0xC; // 64-bit prefetchable memory
        bars[2] = static_cast<uint32_t>(address & 0xFFFFFFF0u) | 0x4;
        bars[3] = static_cast<uint32_t>(address >> 32);
    } else {
        bars[0] = frameBuffer | 0x8; // 32-bit prefetchable memory
        bars[1] = static_cast<uint32_t>(address & 0xFFFFFFF0u);
    }
    bars[4] = 0xE000u + ((bus & 0xF) << 8) + 1; // I/O ports
}

std::array<uint8_t, 256> PciFunction::ConfigSpace() const {
    std::array<uint8_t, 256> space{};
    auto put = [&space](size_t offset, uint32_t value) {
        for (size_t i = 0; i < 4; ++i)
            space[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(0x00, (deviceId & 0xFFFF) << 16 | (vendorId & 0xFFFF));
    put(0x04, 0x00100000u); // status: capability list; command: decoding off until the program sets it
    put(0x08, (classCode & 0xFFFFFF) << 8 | (revision & 0xFF));
    put(0x0C, function == 0 ? 0x00800000u : 0);
    for (size_t i = 0; i < bars.size(); ++i)
        put(0x10 + 4 * i, bars[i]);
    put(0x2C, subsystem);
    put(0x34, 0x50);
    return space;
}

std::string PciFunction::Location() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X:%02X.%X", bus & 0xFF, device & 0x1F, function & 7);
    return buf;
}

PciFunction Q740Card(uint32_t bus, uint64_t registerWindow, bool bar0Is64) {
    PciFunction card;
    card.bus = bus;
    card.vendorId = kQ740Vendor;
    card.deviceId = kQ740Device;
    card.subsystem = kQ740Subsystem;
    card.classCode = 0x030000;
    card.kind = FunctionKind::Q740;
    card.SetRegisterWindow(registerWindow, bar0Is64);
    card.bars[5] = static_cast<uint32_t>(registerWindow & 0xFFF00000u) + 0x00100000u;
    return card;
}

PciFunction Q740Audio(uint32_t bus) {
    PciFunction audio;
    audio.bus = bus;
    audio.function = 1;
    audio.vendorId = kQ740Vendor;
    audio.deviceId = 0xAAB0;
    audio.subsystem = kQ740Subsystem;
    audio.classCode = 0x040300;
    audio.bars[0] = 0xFEA00000u + ((bus & 0xF) << 16);
    return audio;
}

MachineDescription DefaultMachine(int cards) {
    MachineDescription m;
    PciFunction host;
    host.vendorId = 0x8086;
    host.deviceId = 0x3EC2;
    host.subsystem = 0x86941028;
    host.classCode = 0x060000;
    m.pci.push_back(host);

    PciFunction display;
    display.device = 2;
    display.vendorId = 0x8086;
    display.deviceId = 0x3E92;
    display.subsystem = 0x86941028;
    display.classCode = 0x030000;
    display.kind = FunctionKind::Display;
    display.bars[0] = 0xF6000004;
    display.bars[2] = 0xE000000C;
    display.bars[4] = 0xF001;
    m.pci.push_back(display);

    for (int i = 0; i < cards; ++i) {
        const uint32_t bus = 3 + static_cast<uint32_t>(i);
        m.pci.push_back(Q740Card(bus, 0xFE800000u - (static_cast<uint64_t>(i) << 21)));
        m.pci.push_back(Q740Audio(bus));
    }
    return m;
}

std::string FormatDescription(const MachineDescription& machine) {
    IniFile ini;
    IniSection& top = ini.AddSection("machine");
    WriteFields(MachineFields(), machine, machine.machineExtra, top);
    IniSection& env = ini.AddSection("env");
    env.entries = machine.env;
    for (size_t i = 0; i < machine.pci.size(); ++i) {
        IniSection& section = ini.AddSection("pci " + std::to_string(i));
        WriteFields(PciFields(), machine.pci[i], machine.pci[i].extra, section);
    }
    for (const auto& section : machine.extraSections)
        ini.sections.push_back(section);
    return "# Simulated Windows machine (q740sim). Edit freely; unknown keys are kept.\n" + FormatIni(ini);
}

bool ParseDescription(const std::string& text, MachineDescription& machine, std::string& error) {
    MachineDescription m; // defaults for keys that are not given
    // A description is text written by q740sim or by hand: a NUL byte, a line that is no header, key or
    // comment, or nothing at all means the file was damaged (cut short, overwritten), and a machine read
    // from what is left would not be the machine that was described.
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        error = "damaged: a NUL byte at offset " + std::to_string(nul);
        return false;
    }
    const IniFile ini = ParseIni(text);
    if (ini.skippedLines > 0) {
        error = "damaged: line " + std::to_string(ini.firstSkippedLine) +
                " is neither a [section], a key = value nor a comment";
        return false;
    }
    if (ini.sections.empty()) {
        error = "damaged: it describes nothing";
        return false;
    }
    for (const auto& section : ini.sections) {
        const std::string name = FoldCaseAscii(section.name);
        if (name == "MACHINE") {
            if (!ApplyFields(MachineFields(), section, m, m.machineExtra, error))
                return false;
        } else if (name == "ENV") {
            for (const auto& entry : section.entries)
                m.env.push_back(entry);
        } else if (name.rfind("PCI ", 0) == 0) {
            PciFunction function;
            if (!ApplyFields(PciFields(), section, function, function.extra, error))
                return false;
            m.pci.push_back(function);
        } else {
            m.extraSections.push_back(section);
        }
    }
    // The bus reports functions in bus order whatever order the file lists them in.
    std::stable_sort(m.pci.begin(), m.pci.end(), [](const PciFunction& a, const PciFunction& b) {
        return std::tie(a.bus, a.device, a.function) < std::tie(b.bus, b.device, b.function);
    });
    for (size_t i = 1; i < m.pci.size(); ++i) {
        if (m.pci[i].Handle() == m.pci[i - 1].Handle()) {
            error = "two PCI functions at " + m.pci[i].Location();
            return false;
        }
    }
    machine = std::move(m);
    return true;
}

std::string DefaultMachineDir() {
    const char* dir = std::getenv("VSK_SIM_MACHINE");
    return dir && *dir ? dir : ".q740-sim";
}

std::string DescriptionPath(const std::string& dir) {
    return dir + "/machine.ini";
}

bool MachineExists(const std::string& dir) {
    return PathExists(DescriptionPath(dir));
}

bool CreateMachine(const std::string& dir, const MachineDescription& machine, std::string& error) {
    if (!MakeDirectories(dir)) {
        error = "cannot create the folder " + dir;
        return false;
    }
    for (const auto& folder : MachineFolders(machine)) {
        const std::string path = MapPath(dir, folder);
        if (!MakeDirectories(path)) {
            error = "cannot create the folder " + path;
            return false;
        }
    }
    // The keys every Windows machine has and that the program writes below.
    RegistryStore registry(dir);
    for (const wchar_t* key :
         {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", L"SYSTEM\\CurrentControlSet\\Services"}) {
        if (registry.CreateKey(key) != kRegSuccess) {
            error = "cannot write the registry in " + dir;
            return false;
        }
    }
    if (!WriteFileAtomic(DescriptionPath(dir), FormatDescription(machine))) {
        error = "cannot write " + DescriptionPath(dir);
        return false;
    }
    return true;
}

bool LoadMachine(const std::string& dir, MachineDescription& machine, std::string& error) {
    std::string text;
    if (!ReadFile(DescriptionPath(dir), text)) {
        error = "cannot read " + DescriptionPath(dir);
        return false;
    }
    if (!ParseDescription(text, machine, error)) {
        error = DescriptionPath(dir) + ": " + error;
        return false;
    }
    return true;
}

bool RecordRun(const std::string& dir, uint32_t exitCode, const KeyValues& counters) {
    FileLock lock(dir + "/record.lock");
    IniFile ini;
    IniSection& run = ini.AddSection("run");
    run.Set("exit-code", std::to_string(exitCode));
    for (const auto& [key, value] : counters)
        run.Set(key, value);
    const bool recordWritten = WriteFileAtomic(dir + "/last-run.ini", FormatIni(ini));
    return WriteFileAtomic(dir + "/last-exit-code", std::to_string(exitCode) + "\n") && recordWritten;
}

bool ReadLastExitCode(const std::string& dir, uint32_t& code) {
    std::string text;
    return ReadFile(dir + "/last-exit-code", text) && ParseU32(text, code);
}

KeyValues ReadRunRecord(const std::string& dir) {
    std::string text;
    if (!ReadFile(dir + "/last-run.ini", text))
        return {};
    const IniFile ini = ParseIni(text);
    const IniSection* run = ini.FindSection("run");
    return run ? run->entries : KeyValues{};
}

} // namespace sim
