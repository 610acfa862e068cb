// One table row per setting of a model's settings struct: the key as the machine description writes it, and
// the member it sets. Read and Format walk the table, so a new fault switch is one row, not three edits.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/Ini.h"
#include "sim/Text.h"

namespace sim {

template <class Settings> struct SettingField {
    const char* key;
    bool Settings::*flag = nullptr;
    uint32_t Settings::*number = nullptr;
    std::string Settings::*text = nullptr;
    uint32_t minimum = 0, maximum = 0xFFFFFFFFu;
    const char* const* names =
        nullptr; // a choice: the number is the index of its name in this null-ended list

    static SettingField Switch(const char* key, bool Settings::*member) {
        SettingField field{key};
        field.flag = member;
        return field;
    }
    static SettingField Number(const char* key, uint32_t Settings::*member, uint32_t low = 0,
                               uint32_t high = 0xFFFFFFFFu) {
        SettingField field{key};
        field.number = member;
        field.minimum = low;
        field.maximum = high;
        return field;
    }
    static SettingField Choice(const char* key, uint32_t Settings::*member, const char* const* choices) {
        SettingField field{key};
        field.number = member;
        field.names = choices;
        return field;
    }
    static SettingField Text(const char* key, std::string Settings::*member) {
        SettingField field{key};
        field.text = member;
        return field;
    }
};

// Sets each known key of `entries` (keys compare without case; unknown keys are left for others). A bad
// value names the section and key in `error` (the first one only) and leaves that setting as it was.
template <class Settings>
bool ReadSettingFields(const std::vector<SettingField<Settings>>& fields,
                       const std::vector<std::pair<std::string, std::string>>& entries,
                       const std::string& section, Settings& settings, std::string& error) {
    bool ok = true;
    for (const auto& entry : entries) {
        for (const auto& field : fields) {
            if (FoldCaseAscii(entry.first) != FoldCaseAscii(field.key)) {
                continue;
            }
            const std::string value = Trim(entry.second);
            bool good = true;
            if (field.flag != nullptr) {
                good = ParseBool(value, settings.*field.flag);
            } else if (field.names != nullptr) {
                good = false;
                for (uint32_t i = 0; field.names[i] != nullptr; ++i) {
                    if (FoldCaseAscii(value) == FoldCaseAscii(field.names[i])) {
                        settings.*field.number = i;
                        good = true;
                    }
                }
            } else if (field.number != nullptr) {
                uint32_t number = 0;
                good = ParseU32(value, number) && number >= field.minimum && number <= field.maximum;
                if (good) {
                    settings.*field.number = number;
                }
            } else {
                settings.*field.text = value;
            }
            if (!good && ok) {
                error = "[" + section + "] bad value of " + field.key + ": " + value;
                ok = false;
            }
        }
    }
    return ok;
}

// Every field as "key = value" lines into `section`.
template <class Settings>
void FormatSettingFields(const std::vector<SettingField<Settings>>& fields, const Settings& settings,
                         IniSection& section) {
    for (const auto& field : fields) {
        if (field.flag != nullptr) {
            section.Set(field.key, settings.*field.flag ? "1" : "0");
        } else if (field.names != nullptr) {
            section.Set(field.key, field.names[settings.*field.number]);
        } else if (field.number != nullptr) {
            section.Set(field.key, std::to_string(settings.*field.number));
        } else {
            section.Set(field.key, settings.*field.text);
        }
    }
}

} // namespace sim
