#include "sim/ProgramStart.h"

namespace sim {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

size_t SkipBlanks(const std::string& text, size_t pos) {
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

bool HasFolder(const std::string& path) {
    return path.find_first_of("\\/:") != std::string::npos;
}

// ".exe" is added when the file name has no extension at all.
std::string WithExe(const std::string& path) {
    const std::string name = FileNamePart(path);
    return name.find('.') == std::string::npos ? path + ".exe" : path;
}

// The file a candidate names: itself, or found in the search folders when it has no folder.
bool Locate(const std::string& candidate, const std::vector<std::string>& searchFolders,
            const std::function<bool(const std::string&)>& isFile, std::string& module) {
    const std::string name = WithExe(candidate);
    if (HasFolder(name)) {
        if (!isFile(name))
            return false;
        module = name;
        return true;
    }
    for (const std::string& folder : searchFolders) {
        if (folder.empty())
            continue;
        const std::string path = folder.back() == '\\' ? folder + name : folder + "\\" + name;
        if (isFile(path)) {
            module = path;
            return true;
        }
    }
    return false;
}

const char kTag[] = "VSK-SIM-PROGRAM ";

struct KindName {
    ProgramKind kind;
    const char* name;
};
const KindName kKindNames[] = {
    {ProgramKind::DriverTool, "driver-tool"},
    {ProgramKind::LumoCmd, "lumo-cmd"},
    {ProgramKind::LumoCore, "lumo-core"},
    {ProgramKind::LumoStartup, "lumo-startup"},
};

} // namespace

CommandSplit SplitFirstToken(const std::string& commandLine) {
    CommandSplit split;
    const size_t start = SkipBlanks(commandLine, 0);
    size_t end = start;
    if (start < commandLine.size() && commandLine[start] == '"') {
        split.quoted = true;
        const size_t close = commandLine.find('"', start + 1);
        end = close == std::string::npos ? commandLine.size() : close;
        split.program = commandLine.substr(start + 1, end - start - 1);
        if (end < commandLine.size())
            ++end; // past the closing quote
    } else {
        while (end < commandLine.size() && !IsBlank(commandLine[end]))
            ++end;
        split.program = commandLine.substr(start, end - start);
    }
    split.arguments = commandLine.substr(SkipBlanks(commandLine, end));
    return split;
}

std::vector<std::string> SplitArguments(const std::string& commandLine) {
    std::vector<std::string> args;
    size_t pos = SkipBlanks(commandLine, 0);
    std::string program;
    bool quoted = false;
    for (; pos < commandLine.size() && (quoted || !IsBlank(commandLine[pos])); ++pos) {
        if (commandLine[pos] == '"')
            quoted = !quoted;
        else
            program += commandLine[pos];
    }
    args.push_back(program);
    for (;;) {
        pos = SkipBlanks(commandLine, pos);
        if (pos >= commandLine.size())
            return args;
        std::string arg;
        quoted = false;
        while (pos < commandLine.size() && (quoted || !IsBlank(commandLine[pos]))) {
            size_t slashes = 0;
            while (pos < commandLine.size() && commandLine[pos] == '\\') {
                ++slashes;
                ++pos;
            }
            if (pos < commandLine.size() && commandLine[pos] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && pos + 1 < commandLine.size() && commandLine[pos + 1] == '"') {
                    arg += '"';
                    ++pos;
                } else {
                    quoted = !quoted;
                }
                ++pos;
            } else {
                arg.append(slashes, '\\');
                if (pos < commandLine.size() && (quoted || !IsBlank(commandLine[pos])))
                    arg += commandLine[pos++];
            }
        }
        args.push_back(arg);
    }
}

ResolvedModule ResolveModule(const std::string& commandLine, const std::vector<std::string>& searchFolders,
                             const std::function<bool(const std::string& windowsPath)>& isFile) {
    ResolvedModule result;
    const CommandSplit split = SplitFirstToken(commandLine);
    if (split.program.empty())
        return result;
    if (split.quoted) {
        if (Locate(split.program, searchFolders, isFile, result.module)) {
            result.error = 0;
            result.arguments = split.arguments;
        }
        return result;
    }
    // Unquoted: grow the candidate blank by blank; the arguments are what follows the winning candidate.
    const size_t start = SkipBlanks(commandLine, 0);
    size_t end = start;
    for (;;) {
        while (end < commandLine.size() && !IsBlank(commandLine[end]))
            ++end;
        if (Locate(commandLine.substr(start, end - start), searchFolders, isFile, result.module)) {
            result.error = 0;
            result.arguments = commandLine.substr(SkipBlanks(commandLine, end));
            return result;
        }
        if (end >= commandLine.size())
            return result;
        end = SkipBlanks(commandLine, end);
        if (end >= commandLine.size())
            return result;
    }
}

std::string FileNamePart(const std::string& windowsPath) {
    const size_t slash = windowsPath.find_last_of("\\/:");
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

std::string FolderPart(const std::string& windowsPath) {
    const size_t slash = windowsPath.find_last_of("\\/:");
    return slash == std::string::npos ? std::string() : windowsPath.substr(0, slash + 1);
}

std::string ProgramImage(ProgramKind kind, const std::string& detail) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind)
            return std::string("MZ") + kTag + entry.name + " " + detail + "\n";
    }
    return std::string();
}

ProgramKind IdentifyProgram(const std::string& image, std::string* detail) {
    const std::string prefix = std::string("MZ") + kTag;
    if (image.compare(0, prefix.size(), prefix) != 0)
        return ProgramKind::NotAProgram;
    const size_t lineEnd = image.find('\n', prefix.size());
    if (lineEnd == std::string::npos)
        return ProgramKind::NotAProgram; // a truncated image does not start
    const std::string line = image.substr(prefix.size(), lineEnd - prefix.size());
    const size_t blank = line.find(' ');
    const std::string name = line.substr(0, blank);
    for (const KindName& entry : kKindNames) {
        if (name == entry.name) {
            if (detail != nullptr)
                *detail = blank == std::string::npos ? std::string() : line.substr(blank + 1);
            return entry.kind;
        }
    }
    return ProgramKind::NotAProgram;
}

} // namespace sim
