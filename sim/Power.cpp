#include "sim/Power.h"

#include <cstdio>

#include "sim/Files.h"
#include "sim/Ini.h"
#include "sim/Text.h"

namespace sim {

namespace {

// Upper case without braces, so "{893dee8e-...}" and "893DEE8E-..." name the same GUID.
std::string GuidKey(const std::string& guid) {
    std::string key = FoldCaseAscii(Trim(guid));
    if (key.size() >= 2 && key.front() == '{' && key.back() == '}')
        key = key.substr(1, key.size() - 2);
    return key;
}

bool SameGuid(const std::string& a, const char* b) {
    return GuidKey(a) == GuidKey(b);
}

// The stored AC value a subgroup and setting name; null for any other pair.
template <class State>
auto AcValue(State& state, const std::string& subgroup, const std::string& setting)
    -> decltype(&state.acMinProcessor) {
    if (SameGuid(subgroup, kProcessorSubgroup) && SameGuid(setting, kProcessorMinimum))
        return &state.acMinProcessor;
    if (SameGuid(subgroup, kVideoSubgroup) && SameGuid(setting, kVideoTimeout))
        return &state.acDisplayTimeout;
    return nullptr;
}

struct StateNumber {
    const char* key;
    uint32_t PowerState::*member;
};
const StateNumber kNumbers[] = {
    {"ac-min-processor", &PowerState::acMinProcessor},
    {"ac-display-timeout", &PowerState::acDisplayTimeout},
    {"dc-min-processor", &PowerState::dcMinProcessor},
    {"dc-display-timeout", &PowerState::dcDisplayTimeout},
    {"active-min-processor", &PowerState::activeMinProcessor},
    {"active-display-timeout", &PowerState::activeDisplayTimeout},
    {"activations", &PowerState::activations},
    {"execution-state", &PowerState::executionState},
    {"priority-class", &PowerState::priorityClass},
};

} // namespace

const std::vector<Field<PowerSettings>>& PowerFields() {
    using S = PowerSettings;
    static const std::vector<Field<S>> fields = {
        RangeField("ac-min-processor", &S::acMinProcessor, 0, 100),
        NumberField("ac-display-timeout", &S::acDisplayTimeout),
        RangeField("dc-min-processor", &S::dcMinProcessor, 0, 100),
        NumberField("dc-display-timeout", &S::dcDisplayTimeout),
        BoolField("read-fails", &S::readFails),
        BoolField("write-fails", &S::writeFails),
        BoolField("shutdown-privilege", &S::shutdownPrivilege),
        BoolField("restart-refused", &S::restartRefused),
    };
    return fields;
}

PowerState InitialPower(const PowerSettings& settings) {
    PowerState state;
    state.acMinProcessor = state.activeMinProcessor = settings.acMinProcessor;
    state.acDisplayTimeout = state.activeDisplayTimeout = settings.acDisplayTimeout;
    state.dcMinProcessor = settings.dcMinProcessor;
    state.dcDisplayTimeout = settings.dcDisplayTimeout;
    return state;
}

uint32_t ReadAcValue(const PowerState& state, const PowerSettings& settings, const std::string& scheme,
                     const std::string& subgroup, const std::string& setting, uint32_t& value) {
    if (GuidKey(scheme) != GuidKey(state.activeScheme))
        return kErrorPowerNotFound;
    const uint32_t* stored = AcValue(state, subgroup, setting);
    if (stored == nullptr)
        return kErrorPowerNotFound;
    if (settings.readFails)
        return kErrorReadFault;
    value = *stored;
    return 0;
}

uint32_t WriteAcValue(PowerState& state, const PowerSettings& settings, const std::string& scheme,
                      const std::string& subgroup, const std::string& setting, uint32_t value) {
    if (GuidKey(scheme) != GuidKey(state.activeScheme))
        return kErrorPowerNotFound;
    uint32_t* stored = AcValue(state, subgroup, setting);
    if (stored == nullptr)
        return kErrorPowerNotFound;
    if (stored == &state.acMinProcessor && value > 100)
        return kErrorInvalidParameter;
    if (settings.writeFails)
        return kErrorPowerAccessDenied;
    *stored = value;
    return 0;
}

uint32_t ActivateScheme(PowerState& state, const std::string& scheme) {
    if (GuidKey(scheme) != GuidKey(state.activeScheme))
        return kErrorPowerNotFound;
    state.activeMinProcessor = state.acMinProcessor;
    state.activeDisplayTimeout = state.acDisplayTimeout;
    ++state.activations;
    return 0;
}

uint32_t SetExecutionState(PowerState& state, const std::string& process, uint32_t flags) {
    if ((flags & kEsUserPresent) != 0 || ((flags & kEsAwayModeRequired) != 0 && (flags & kEsContinuous) == 0))
        return 0;
    const uint32_t previous =
        state.executionBy == process ? (state.executionState | kEsContinuous) : kEsContinuous;
    if ((flags & kEsContinuous) != 0) {
        state.executionBy = process;
        state.executionState = flags;
    }
    return previous;
}

bool SetPriorityClass(PowerState& state, const std::string& process, uint32_t priorityClass) {
    switch (priorityClass) {
    case 0x40:   // IDLE
    case 0x4000: // BELOW_NORMAL
    case 0x20:   // NORMAL
    case 0x8000: // ABOVE_NORMAL
    case 0x80:   // HIGH
    case 0x100:  // REALTIME
        state.priorityBy = process;
        state.priorityClass = priorityClass;
        return true;
    default:
        return false;
    }
}

uint32_t EnableShutdownPrivilege(PowerState& state, const PowerSettings& settings) {
    if (!settings.shutdownPrivilege)
        return kErrorNotAllAssigned;
    state.privilegeEnabled = true;
    return 0;
}

uint32_t RequestShutdown(PowerState& state, const PowerSettings& settings, const std::string& process,
                         uint32_t timeoutSeconds, bool forceAppsClosed, bool rebootAfterShutdown,
                         uint32_t reason) {
    if (!state.privilegeEnabled)
        return kErrorPowerAccessDenied;
    if (state.restart.requested)
        return kErrorShutdownInProgress;
    if (timeoutSeconds > 315360000u) // ten years, MAX_SHUTDOWN_TIMEOUT
        return kErrorInvalidParameter;
    if (settings.restartRefused)
        return kErrorPowerAccessDenied;
    state.restart = {true, forceAppsClosed, rebootAfterShutdown, timeoutSeconds, reason, process};
    return 0;
}

std::string DescribeShutdownReason(uint32_t reason) {
    static const char* const kMajor[] = {"other",  "hardware", "operating system", "software", "application",
                                         "system", "power",    "legacy API"};
    static const char* const kMinor[] = {
        "other",        "maintenance",    "installation", "upgrade",         "reconfig",
        "hung",         "unstable",       "disk",         "processor",       "network card",
        "power supply", "cord unplugged", "environment",  "hardware driver", "other driver",
        "blue screen"};
    const uint32_t major = (reason >> 16) & 0xFF;
    const uint32_t minor = reason & 0xFFFF;
    std::string text =
        major < sizeof kMajor / sizeof kMajor[0] ? kMajor[major] : "major " + std::to_string(major);
    text += ": ";
    text += minor < sizeof kMinor / sizeof kMinor[0] ? kMinor[minor] : "minor " + std::to_string(minor);
    text += (reason & 0x80000000u) != 0 ? " (planned)" : " (unplanned)";
    return text;
}

void PowerAtRestart(PowerState& state) {
    state.restart = RestartRequest();
    state.executionBy.clear();
    state.executionState = 0;
    state.priorityBy.clear();
    state.priorityClass = 0x20;
    state.privilegeEnabled = false;
}

bool LoadPower(const std::string& dir, const PowerSettings& settings, PowerState& state) {
    state = InitialPower(settings);
    std::string text;
    const std::string path = dir + "/power.ini";
    if (!ReadFile(path, text))
        return !PathExists(path);
    const IniFile ini = ParseIni(text);
    const IniSection* scheme = ini.FindSection("scheme");
    const IniSection* process = ini.FindSection("process");
    const IniSection* restart = ini.FindSection("restart");
    auto number = [](const IniSection* section, const char* key, uint32_t& value) {
        const std::string* found = section != nullptr ? section->Find(key) : nullptr;
        if (found != nullptr)
            ParseU32(*found, value);
    };
    auto text_ = [](const IniSection* section, const char* key, std::string& value) {
        const std::string* found = section != nullptr ? section->Find(key) : nullptr;
        if (found != nullptr)
            Unquote(*found, value);
    };
    text_(scheme, "active", state.activeScheme);
    for (const StateNumber& field : kNumbers) {
        number(scheme, field.key, state.*field.member);
        number(process, field.key, state.*field.member);
    }
    text_(process, "execution-by", state.executionBy);
    text_(process, "priority-by", state.priorityBy);
    uint32_t flag = 0;
    number(process, "privilege-enabled", flag);
    state.privilegeEnabled = flag != 0;
    uint32_t requested = 0, force = 0, reboot = 0;
    number(restart, "requested", requested);
    number(restart, "force-apps-closed", force);
    number(restart, "reboot", reboot);
    number(restart, "timeout", state.restart.timeoutSeconds);
    number(restart, "reason", state.restart.reason);
    text_(restart, "by", state.restart.by);
    state.restart.requested = requested != 0;
    state.restart.forceAppsClosed = force != 0;
    state.restart.rebootAfterShutdown = reboot != 0;
    return true;
}

bool SavePower(const std::string& dir, const PowerState& state) {
    IniSection scheme{"scheme", {}}, process{"process", {}}, restart{"restart", {}};
    scheme.Set("active", Quote(state.activeScheme));
    for (const StateNumber& field : kNumbers) {
        const bool perProcess =
            field.member == &PowerState::executionState || field.member == &PowerState::priorityClass;
        (perProcess ? process : scheme).Set(field.key, std::to_string(state.*field.member));
    }
    process.Set("execution-by", Quote(state.executionBy));
    process.Set("priority-by", Quote(state.priorityBy));
    process.Set("privilege-enabled", state.privilegeEnabled ? "1" : "0");
    restart.Set("requested", state.restart.requested ? "1" : "0");
    restart.Set("force-apps-closed", state.restart.forceAppsClosed ? "1" : "0");
    restart.Set("reboot", state.restart.rebootAfterShutdown ? "1" : "0");
    restart.Set("timeout", std::to_string(state.restart.timeoutSeconds));
    char reason[16];
    std::snprintf(reason, sizeof reason, "0x%08X", state.restart.reason);
    restart.Set("reason", reason);
    restart.Set("by", Quote(state.restart.by));
    IniFile ini;
    ini.sections = {scheme, process, restart};
    return WriteFileAtomic(dir + "/power.ini", FormatIni(ini));
}

} // namespace sim
