#include "app/RegisteredCommandLine.h"

#include <cwctype>
#include <vector>

namespace {

// One token of the argument part, as the C runtime splits it: blanks outside quotes separate tokens.
struct Token {
    size_t begin = 0, end = 0; // in the command line
};

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring Folded(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text)
        out.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))));
    return out;
}

size_t FirstTokenEnd(const std::wstring& line, const std::wstring& modulePath) {
    // The program token: a quoted one ends at its closing quote. An unquoted one that is the program's own
    // path (with or without ".exe") ends after it, blanks and all, as the system found the program there;
    // any other unquoted one ends at the first blank.
    const std::wstring folded = Folded(line);
    std::wstring module = Folded(modulePath);
    for (int form = 0; form < 2; ++form) {
        if (!module.empty() && folded.compare(0, module.size(), module) == 0 &&
            (line.size() == module.size() || Blank(line[module.size()])))
            return module.size();
        if (module.size() > 4 && module.compare(module.size() - 4, 4, L".exe") == 0)
            module.resize(module.size() - 4);
    }
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        return close == std::wstring::npos ? line.size() : close + 1;
    }
    size_t i = 0;
    while (i < line.size() && !Blank(line[i]))
        ++i;
    return i;
}

std::vector<Token> SplitTokens(const std::wstring& line, size_t from) {
    std::vector<Token> tokens;
    size_t i = from;
    while (i < line.size()) {
        while (i < line.size() && Blank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        Token t;
        t.begin = i;
        bool quoted = false;
        while (i < line.size() && (quoted || !Blank(line[i]))) {
            if (line[i] == L'\\') {
                // Backslashes before a quote escape it; elsewhere they are themselves.
                size_t n = 0;
                while (i < line.size() && line[i] == L'\\') {
                    ++n;
                    ++i;
                }
                if (i < line.size() && line[i] == L'"' && n % 2 == 1)
                    ++i;
                continue;
            }
            if (line[i] == L'"')
                quoted = !quoted;
            ++i;
        }
        t.end = i;
        tokens.push_back(t);
    }
    return tokens;
}

// The token's text without its grouping quotes.
std::wstring Unquoted(const std::wstring& raw) {
    std::wstring out;
    for (wchar_t c : raw)
        if (c != L'"')
            out.push_back(c);
    return out;
}

bool IsOption(const std::wstring& raw, std::initializer_list<const wchar_t*> spellings) {
    const std::wstring lower = Folded(raw);
    for (const wchar_t* s : spellings)
        if (lower == s)
            return true;
    return false;
}

// The path in quotes as the C runtime reads it back: backslashes that end the path are doubled, or the last
// one would escape the closing quote and the argument would run on into the next ones.
std::wstring Quoted(const std::wstring& path) {
    size_t trailing = 0;
    while (trailing < path.size() && path[path.size() - 1 - trailing] == L'\\')
        ++trailing;
    return L"\"" + path + std::wstring(trailing, L'\\') + L"\"";
}

} // namespace

std::wstring RegisteredCommandLine(const std::wstring& commandLine, const std::wstring& modulePath,
                                   const FullPathFn& fullPath, int nextTestCount) {
    const size_t programEnd = FirstTokenEnd(commandLine, modulePath);
    const std::vector<Token> tokens = SplitTokens(commandLine, programEnd);
    std::vector<std::wstring> replacement(tokens.size());
    bool fileDone = false, testFileDone = false, countDone = false;
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        const std::wstring raw = commandLine.substr(tokens[i].begin, tokens[i].end - tokens[i].begin);
        const bool file = !fileDone && IsOption(raw, {L"-f", L"--flash"});
        const bool testFile = !testFileDone && IsOption(raw, {L"-tf", L"--testflash"});
        const bool count = !countDone && nextTestCount >= 0 && IsOption(raw, {L"-tc", L"--testcount"});
        if (!file && !testFile && !count)
            continue;
        fileDone = fileDone || file;
        testFileDone = testFileDone || testFile;
        countDone = countDone || count;
        const Token& value = tokens[i + 1];
        const std::wstring text = commandLine.substr(value.begin, value.end - value.begin);
        if (count) {
            // The count's digits give way to the lowered count; whatever follows them stays.
            size_t digits = 0;
            while (digits < text.size() && std::iswdigit(static_cast<wint_t>(text[digits])))
                ++digits;
            replacement[i + 1] = std::to_wstring(nextTestCount) + text.substr(digits);
        } else {
            const std::wstring path = Unquoted(text);
            const std::wstring full = fullPath ? fullPath(path) : path;
            if (full != path)
                replacement[i + 1] = Quoted(full);
        }
        ++i;
    }
    std::wstring out = L"\"" + modulePath + L"\"";
    size_t at = programEnd;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (replacement[i].empty())
            continue;
        out += commandLine.substr(at, tokens[i].begin - at) + replacement[i];
        at = tokens[i].end;
    }
    out += commandLine.substr(at);
    return out;
}
