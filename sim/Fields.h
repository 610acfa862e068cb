// The keys of a machine description as tables: one row per key of a settings struct says how its text is
// read into the struct, how it is written back, and which `q740sim create` option sets it, if any. A model
// of the simulated machine takes a plain settings struct and one such table, so each new switch is one row.
//
//   struct DriverSettings { bool installed = true; uint32_t failures = 0; };
//   const std::vector<Field<DriverSettings>> kDriverFields = {
//       BoolField("display-driver", &DriverSettings::installed, Flag("--no-driver", "0")),
//       NumberField("driver-failures", &DriverSettings::failures),
//   };
//   DriverSettings settings;
//   const FieldError bad = ReadFields(kDriverFields, machine.machineExtra, settings);
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/Text.h"

namespace sim {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// How `q740sim create` sets a key: a flag that stands for one value, or an option followed by the value
// (a repeatable one adds each value to a list separated by ';').
struct CreateOption {
    const char* name = nullptr;      // "--no-driver"; null: the key has no option
    const char* flagValue = nullptr; // the value a flag stands for; null: the option takes a value
    const char* valueName = nullptr; // what the value is, for the usage text ("N", "PATH")
    bool repeatable = false;
};

inline CreateOption Flag(const char* name, const char* value) {
    return {name, value, nullptr, false};
}
inline CreateOption WithValue(const char* name, const char* valueName) {
    return {name, nullptr, valueName, false};
}
inline CreateOption Repeated(const char* name, const char* valueName) {
    return {name, nullptr, valueName, true};
}

template <class S> struct Field {
    const char* key;
    // False on a bad value; the struct is then left as it was.
    std::function<bool(S&, const std::string&)> parse;
    std::function<std::string(const S&)> format;
    CreateOption option{};
};

// A decimal or 0x number; written back in hexadecimal with `hexDigits` digits, or in decimal for 0.
template <class S>
Field<S> NumberField(const char* key, uint32_t S::*member, int hexDigits = 0, CreateOption option = {}) {
    return {key, [member](S& s, const std::string& v) { return ParseU32(v, s.*member); },
            [member, hexDigits](const S& s) {
                return hexDigits ? Hex(s.*member, hexDigits) : std::to_string(s.*member);
            },
            option};
}

// A number that must lie in [low, high]; written back in decimal.
template <class S>
Field<S> RangeField(const char* key, uint32_t S::*member, uint32_t low, uint32_t high,
                    CreateOption option = {}) {
    return {key,
            [member, low, high](S& s, const std::string& v) {
                uint32_t number = 0;
                if (!ParseU32(v, number) || number < low || number > high)
                    return false;
                s.*member = number;
                return true;
            },
            [member](const S& s) { return std::to_string(s.*member); }, option};
}

// "1", "yes", "true", "on" or "0", "no", "false", "off"; written back as 1 or 0.
template <class S> Field<S> BoolField(const char* key, bool S::*member, CreateOption option = {}) {
    return {key, [member](S& s, const std::string& v) { return ParseBool(v, s.*member); },
            [member](const S& s) { return std::string(s.*member ? "1" : "0"); }, option};
}

// A switch written as one of two words ("virtual" or "real"), compared without case.
template <class S>
Field<S> ChoiceField(const char* key, bool S::*member, const char* whenTrue, const char* whenFalse,
                     CreateOption option = {}) {
    return {
        key,
        [member, whenTrue, whenFalse](S& s, const std::string& v) {
            const std::string t = FoldCaseAscii(Trim(v));
            if (t != FoldCaseAscii(whenTrue) && t != FoldCaseAscii(whenFalse))
                return false;
            s.*member = t == FoldCaseAscii(whenTrue);
            return true;
        },
        [member, whenTrue, whenFalse](const S& s) { return std::string(s.*member ? whenTrue : whenFalse); },
        option};
}

// One of the words of a null-ended list, compared without case; the member holds the word's index.
template <class S>
Field<S> NamesField(const char* key, uint32_t S::*member, const char* const* names,
                    CreateOption option = {}) {
    return {key,
            [member, names](S& s, const std::string& v) {
                for (uint32_t i = 0; names[i] != nullptr; ++i) {
                    if (FoldCaseAscii(Trim(v)) == FoldCaseAscii(names[i])) {
                        s.*member = i;
                        return true;
                    }
                }
                return false;
            },
            [member, names](const S& s) { return std::string(names[s.*member]); }, option};
}

// Any text, kept as it is.
template <class S> Field<S> TextField(const char* key, std::string S::*member, CreateOption option = {}) {
    return {key,
            [member](S& s, const std::string& v) {
                s.*member = v;
                return true;
            },
            [member](const S& s) { return s.*member; }, option};
}

// A value of another type with its own reader (which must leave the value alone on failure) and writer.
template <class S, class T>
Field<S> ValueField(const char* key, T S::*member, bool (*read)(const std::string&, T&),
                    std::string (*write)(const T&), CreateOption option = {}) {
    return {key, [member, read](S& s, const std::string& v) { return read(Trim(v), s.*member); },
            [member, write](const S& s) { return write(s.*member); }, option};
}

// The first entry whose value its field refused; empty when there was none.
struct FieldError {
    std::string key, value;
    explicit operator bool() const { return !key.empty(); }
};

template <class S> const Field<S>* FindField(const std::vector<Field<S>>& fields, const std::string& key) {
    const std::string folded = FoldCaseAscii(key);
    const auto it = std::find_if(fields.begin(), fields.end(),
                                 [&folded](const Field<S>& f) { return FoldCaseAscii(f.key) == folded; });
    return it == fields.end() ? nullptr : &*it;
}

template <class S>
const Field<S>* FindOption(const std::vector<Field<S>>& fields, const std::string& optionName) {
    const auto it = std::find_if(fields.begin(), fields.end(), [&optionName](const Field<S>& f) {
        return f.option.name != nullptr && optionName == f.option.name;
    });
    return it == fields.end() ? nullptr : &*it;
}

// Reads the entries through the table (keys compared without case). Every known key is read; a bad value
// leaves its member as it was, and the first one is reported. Keys the table does not know go to
// `unknown` when it is given.
template <class S>
FieldError ReadFields(const std::vector<Field<S>>& fields, const KeyValues& entries, S& target,
                      KeyValues* unknown = nullptr) {
    FieldError first;
    for (const auto& [key, value] : entries) {
        const Field<S>* field = FindField(fields, key);
        if (field == nullptr) {
            if (unknown != nullptr)
                unknown->emplace_back(key, value);
        } else if (!field->parse(target, value) && !first) {
            first = {key, value};
        }
    }
    return first;
}

// Every key of the table with its value, in table order.
template <class S>
void WriteFields(const std::vector<Field<S>>& fields, const S& source, KeyValues& entries) {
    for (const auto& field : fields)
        entries.emplace_back(field.key, field.format(source));
}

} // namespace sim
