#include "sim/WindowsPaths.h"

#include <dirent.h>
#include <unistd.h>

#include <vector>

#include "sim/Files.h"
#include "sim/Text.h"

namespace sim {

namespace {

// Finds `name` in `folder` without case when the exact name does not exist.
std::string MatchComponent(const std::string& folder, const std::string& name) {
    if (name == "." || name == ".." || PathExists(folder + "/" + name))
        return name;
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return name;
    const std::wstring wanted = FoldCase(FromUtf8(name));
    std::string found = name;
    while (const dirent* entry = ::readdir(d)) {
        if (FoldCase(FromUtf8(entry->d_name)) == wanted) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string MapPath(const std::string& dir, const std::string& windowsPath) {
    std::string path = windowsPath;
    for (auto& c : path)
        if (c == '\\')
            c = '/';
    const bool windowsRooted = !windowsPath.empty() && windowsPath[0] == '\\';
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/' && (windowsRooted || windowsPath[1] == '\\'))
        return std::string(); // a network or device path
    size_t pos = 0;
    std::string out;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
        out = dir + "/" + static_cast<char>(path[0] & ~0x20);
        pos = 2;
    } else if (windowsRooted) {
        out = dir + "/C";
        pos = 1;
    } else {
        return path;
    }
    // The drive's folder and the components matched so far; ".." never goes above the drive.
    const size_t driveEnd = out.size();
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(pos, end - pos);
        if (component == "..") {
            const size_t slash = out.rfind('/');
            if (out.size() > driveEnd && slash != std::string::npos && slash >= driveEnd)
                out.erase(slash);
        } else if (!component.empty() && component != ".") {
            out += "/" + MatchComponent(out, component);
        }
        pos = end + 1;
    }
    return out;
}

namespace {

// An absolute path with "." and ".." resolved and no empty components.
std::string Normalised(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr)
            return std::string();
        absolute = std::string(cwd) + "/" + absolute;
    }
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= absolute.size()) {
        size_t end = absolute.find('/', pos);
        if (end == std::string::npos)
            end = absolute.size();
        const std::string part = absolute.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    return out.empty() ? "/" : out;
}

} // namespace

bool InsideMachine(const std::string& dir, const std::string& mappedPath) {
    if (mappedPath.empty())
        return false;
    const std::string root = Normalised(dir);
    const std::string path = Normalised(mappedPath);
    return !root.empty() && root != "/" && path.size() > root.size() &&
           path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
}

std::string MapPathForChange(const std::string& dir, const std::string& windowsPath) {
    const std::string mapped = MapPath(dir, windowsPath);
    return InsideMachine(dir, mapped) ? mapped : std::string();
}

std::string RedirectSystem32(const std::string& windowsPath) {
    const std::string prefix = "C:\\WINDOWS\\SYSTEM32";
    std::string folded = FoldCaseAscii(windowsPath);
    for (auto& c : folded)
        if (c == '/')
            c = '\\';
    if (folded.compare(0, prefix.size(), prefix) != 0 ||
        (folded.size() > prefix.size() && folded[prefix.size()] != '\\'))
        return windowsPath;
    return "C:\\Windows\\SysWOW64" + windowsPath.substr(prefix.size());
}

KeyValues WindowsEnvironment(const MachineDescription& machine) {
    KeyValues env = {
        {"USERPROFILE", "C:\\Users\\user"},
        {"LOCALAPPDATA", "C:\\Users\\user\\AppData\\Local"},
        {"APPDATA", "C:\\Users\\user\\AppData\\Roaming"},
        {"TEMP", "C:\\Users\\user\\AppData\\Local\\Temp"},
        {"TMP", "C:\\Users\\user\\AppData\\Local\\Temp"},
        {"SystemDrive", "C:"},
        {"SystemRoot", "C:\\Windows"},
        {"windir", "C:\\Windows"},
        {"ProgramFiles", "C:\\Program Files"},
    };
    if (machine.os64)
        env.emplace_back("ProgramFiles(x86)", "C:\\Program Files (x86)");
    for (const auto& [name, value] : machine.env) {
        bool replaced = false;
        for (auto it = env.begin(); it != env.end(); ++it) {
            if (FoldCaseAscii(it->first) == FoldCaseAscii(name)) {
                it->second = value;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            env.emplace_back(name, value);
    }
    KeyValues result;
    for (const auto& entry : env)
        if (!entry.second.empty())
            result.push_back(entry);
    return result;
}

std::vector<std::string> MachineFolders(const MachineDescription& machine) {
    std::vector<std::string> folders = {"C:\\Windows\\System32"};
    if (machine.os64)
        folders.push_back("C:\\Windows\\SysWOW64");
    for (const auto& [name, value] : WindowsEnvironment(machine))
        if (value.size() > 2 && value[1] == ':' && IsDriveLetter(value[0]))
            folders.push_back(value);
    const size_t slash = machine.programPath.find_last_of('\\');
    if (slash != std::string::npos && slash > 2)
        folders.push_back(machine.programPath.substr(0, slash));
    return folders;
}

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\'); // before the closing quote
    return out + "\"";
}

std::string BuildCommandLine(const MachineDescription& machine, const std::vector<std::string>& arguments) {
    std::string line = machine.commandName.empty() ? QuoteArgument(machine.programPath) : machine.commandName;
    for (const auto& argument : arguments)
        line += " " + QuoteArgument(argument);
    return line;
}

} // namespace sim
