// The INI-like text of the machine description: "[section]" headers, "key = value" lines, "#" or ";"
// comments. Parsing is forgiving (stray lines are skipped and counted) so that older tools read newer files.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sim {

struct IniSection {
    std::string name; // as written, e.g. "pci 2"
    std::vector<std::pair<std::string, std::string>> entries;

    // The last value of a key (keys compare without case); null when absent.
    const std::string* Find(const std::string& key) const;
    void Set(const std::string& key, const std::string& value);
};

struct IniFile {
    std::vector<IniSection> sections;
    int skippedLines = 0;     // lines that were neither a header, a comment nor a key
    int firstSkippedLine = 0; // the first of them, counted from 1; 0 when none

    IniSection* FindSection(const std::string& name);
    const IniSection* FindSection(const std::string& name) const;
    IniSection& AddSection(const std::string& name);
};

IniFile ParseIni(const std::string& text);
std::string FormatIni(const IniFile& ini);

} // namespace sim
