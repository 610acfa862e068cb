#include "sim/Ini.h"

#include "sim/Text.h"

namespace sim {

const std::string* IniSection::Find(const std::string& key) const {
    const std::string folded = FoldCaseAscii(key);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (FoldCaseAscii(it->first) == folded)
            return &it->second;
    return nullptr;
}

void IniSection::Set(const std::string& key, const std::string& value) {
    const std::string folded = FoldCaseAscii(key);
    for (auto& entry : entries) {
        if (FoldCaseAscii(entry.first) == folded) {
            entry.second = value;
            return;
        }
    }
    entries.emplace_back(key, value);
}

IniSection* IniFile::FindSection(const std::string& name) {
    const std::string folded = FoldCaseAscii(name);
    for (auto& section : sections)
        if (FoldCaseAscii(section.name) == folded)
            return &section;
    return nullptr;
}

const IniSection* IniFile::FindSection(const std::string& name) const {
    return const_cast<IniFile*>(this)->FindSection(name);
}

IniSection& IniFile::AddSection(const std::string& name) {
    sections.push_back(IniSection{name, {}});
    return sections.back();
}

IniFile ParseIni(const std::string& text) {
    IniFile ini;
    IniSection* current = nullptr;
    size_t pos = 0;
    int number = 0;
    while (pos <= text.size()) {
        ++number;
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            // Collapse inner blanks so "[pci  1]" and "[ pci 1 ]" name the same section.
            std::string name;
            for (char c : Trim(line.substr(1, line.size() - 2)))
                if (!(c == ' ' && !name.empty() && name.back() == ' '))
                    name += c;
            current = &ini.AddSection(name);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            if (ini.skippedLines++ == 0)
                ini.firstSkippedLine = number;
            continue;
        }
        if (!current)
            current = &ini.AddSection("");
        current->entries.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
    return ini;
}

std::string FormatIni(const IniFile& ini) {
    std::string out;
    for (const auto& section : ini.sections) {
        if (!out.empty())
            out += '\n';
        // Keys before any header are a nameless first section; any other nameless section keeps its "[]",
        // so that it is read back as a section of its own (its keys do not join the section above).
        if (!section.name.empty() || &section != &ini.sections.front() || section.entries.empty())
            out += "[" + section.name + "]\n";
        for (const auto& [key, value] : section.entries)
            out += key + " = " + value + "\n";
    }
    return out;
}

} // namespace sim
