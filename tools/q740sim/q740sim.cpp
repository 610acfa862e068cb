// q740sim: creates, shows and edits simulated Windows machines for the native build of the program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/sim/SimService.h"
#include "sim/CardI2c.h"
#include "sim/DisplayDriver.h"
#include "sim/Files.h"
#include "sim/Fpga.h"
#include "sim/Machine.h"
#include "sim/Power.h"
#include "sim/ProgramStart.h"
#include "sim/Registry.h"
#include "sim/Restart.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"
#include "sim/WindowsSide.h"
#include "tools/q740sim/Probe.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kRegMultiSz = 7;

// The options of `create` that shape the machine rather than set one key of its description; the keys'
// own options come from the description's table of fields (sim::MachineFields).
struct CreateOptions {
    std::string from;
    bool force = false;
    int cards = -1;
    bool bar32 = false, highWindows = false;
    std::vector<int> mapFail;
    // Keys of one card's section (its models' own keys: fpga-version, i2c-misread-khz, ...): card index,
    // key, value.
    std::vector<std::tuple<int, std::string, std::string>> cardKeys;
    // What is applied after --from, in the order given: a key's field and its value, or (no field) an
    // environment entry NAME=VALUE.
    std::vector<std::pair<const sim::Field<sim::MachineDescription>*, std::string>> overrides;
};

struct ShapeOption {
    const char* name;
    const char* valueName; // null: a flag
    bool repeatable;
    // False when the value is bad.
    bool (*apply)(CreateOptions& options, const std::string& value);
};

const ShapeOption kShapeOptions[] = {
    {"--from", "FILE", false,
     [](CreateOptions& o, const std::string& v) {
         o.from = v;
         return true;
     }},
    {"--force", nullptr, false,
     [](CreateOptions& o, const std::string&) {
         o.force = true;
         return true;
     }},
    {"--cards", "N", false,
     [](CreateOptions& o, const std::string& v) {
         uint32_t number = 0;
         if (!sim::ParseU32(v, number) || number > 32)
             return false;
         o.cards = static_cast<int>(number);
         return true;
     }},
    {"--bar32", nullptr, false,
     [](CreateOptions& o, const std::string&) {
         o.bar32 = true;
         return true;
     }},
    {"--high-windows", nullptr, false,
     [](CreateOptions& o, const std::string&) {
         o.highWindows = true;
         return true;
     }},
    {"--map-fail", "INDEX", true,
     [](CreateOptions& o, const std::string& v) {
         uint32_t number = 0;
         if (!sim::ParseU32(v, number))
             return false;
         o.mapFail.push_back(static_cast<int>(number));
         return true;
     }},
    {"--card", "INDEX:KEY=VALUE", true,
     [](CreateOptions& o, const std::string& v) {
         const size_t colon = v.find(':');
         const size_t eq = v.find('=');
         uint32_t index = 0;
         if (colon == std::string::npos || eq == std::string::npos || eq < colon + 2 ||
             !sim::ParseU32(v.substr(0, colon), index))
             return false;
         o.cardKeys.emplace_back(static_cast<int>(index), sim::Trim(v.substr(colon + 1, eq - colon - 1)),
                                 sim::Trim(v.substr(eq + 1)));
         return true;
     }},
    {"--env", "NAME=VALUE", true,
     [](CreateOptions& o, const std::string& v) {
         o.overrides.emplace_back(nullptr, v);
         return true;
     }},
};

// "[--name VALUE]..." as the usage text shows an option.
std::string UsageOf(const char* name, const char* valueName, bool repeatable) {
    return std::string("[") + name + (valueName ? std::string(" ") + valueName : "") + "]" +
           (repeatable ? "..." : "");
}

std::string UsageText() {
    std::vector<std::string> options;
    for (const ShapeOption& o : kShapeOptions)
        options.push_back(UsageOf(o.name, o.valueName, o.repeatable));
    for (const auto& field : sim::MachineFields())
        if (field.option.name)
            options.push_back(UsageOf(field.option.name,
                                      field.option.flagValue ? nullptr : field.option.valueName,
                                      field.option.repeatable));
    std::string text = "usage: q740sim COMMAND [--dir DIR] [options]\n  create";
    size_t column = 8;
    for (const std::string& option : options) {
        if (column + 1 + option.size() > 100) {
            text += "\n        ";
            column = 8;
        }
        text += " " + option;
        column += 1 + option.size();
    }
    return text +
           "\n"
           "                        make a machine (the default one unless options say otherwise)\n"
           "  show                  print the machine, its environment and PCI functions, the last exit "
           "code\n"
           "  reg                   print the registry (HKEY_LOCAL_MACHINE)\n"
           "  reg-set KEY NAME (--sz TEXT | --bytes TEXT | --dword N)\n"
           "                        create KEY if needed and set a value (--sz: UTF-16LE with its null)\n"
           "  reg-delete KEY [NAME] delete a value, or a key without subkeys\n"
           "  boot [--program PATH] restart the machine: restart-time file moves, pending driver changes, "
           "then\n"
           "                        the RunOnce entries (the updater's run PATH or $VSK_SIM_PROGRAM)\n"
           "  probe info [TEXT...] | keys | write | ctrl | sleep MS | exit CODE\n"
           "                        run platform operations as the program would on this machine\n"
           "DIR defaults to $VSK_SIM_MACHINE, else .q740-sim\n";
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "q740sim: %s\n%s", message.c_str(), UsageText().c_str());
    return kExitUsage;
}

int Failed(const std::string& message) {
    std::fprintf(stderr, "q740sim: %s\n", message.c_str());
    return kExitFailed;
}

// Command-line arguments after the command: options with values are taken in order.
class Arguments {
public:
    Arguments(int argc, char** argv) : args_(argv + 2, argv + argc) {}

    bool Done() const { return pos_ >= args_.size(); }
    const std::string& Next() { return args_[pos_++]; }
    bool Value(std::string& value) {
        if (Done())
            return false;
        value = Next();
        return true;
    }

private:
    std::vector<std::string> args_;
    size_t pos_ = 0;
};

int Create(const std::string& dir, Arguments& args) {
    sim::MachineDescription machine = sim::DefaultMachine();
    CreateOptions options;
    while (!args.Done()) {
        const std::string arg = args.Next();
        std::string value;
        const auto shape = std::find_if(std::begin(kShapeOptions), std::end(kShapeOptions),
                                        [&arg](const ShapeOption& o) { return arg == o.name; });
        const sim::Field<sim::MachineDescription>* field = sim::FindOption(sim::MachineFields(), arg);
        if (shape != std::end(kShapeOptions)) {
            if ((shape->valueName && !args.Value(value)) || !shape->apply(options, value))
                return Usage("create: bad or incomplete option " + arg);
        } else if (field && field->option.flagValue) {
            options.overrides.emplace_back(field, field->option.flagValue);
        } else if (field && args.Value(value)) {
            options.overrides.emplace_back(field, value);
        } else {
            return Usage("create: bad or incomplete option " + arg);
        }
    }
    if (!options.from.empty()) {
        std::string text, error;
        if (!sim::ReadFile(options.from, text))
            return Failed("cannot read " + options.from);
        if (!sim::ParseDescription(text, machine, error))
            return Failed(options.from + ": " + error);
    }
    if (options.cards >= 0) {
        machine.pci = sim::DefaultMachine(options.cards).pci;
    }
    if (options.bar32 && options.highWindows)
        return Usage("create: --bar32 windows cannot lie above 4 GB");
    int cardIndex = 0;
    for (auto& function : machine.pci) {
        if (function.kind != sim::FunctionKind::Q740)
            continue;
        if (options.bar32 || options.highWindows) {
            const uint64_t window = function.RegisterWindow();
            function.SetRegisterWindow(options.highWindows ? window + (uint64_t{0x3F} << 32) : window,
                                       !options.bar32);
        }
        for (int index : options.mapFail)
            if (index == cardIndex)
                function.mapFails = true;
        for (const auto& [index, key, value] : options.cardKeys) {
            if (index != cardIndex)
                continue;
            auto& extra = function.extra;
            const std::string folded = sim::FoldCaseAscii(key); // a binding cannot be captured in C++17
            const auto it = std::find_if(extra.begin(), extra.end(), [&folded](const auto& entry) {
                return sim::FoldCaseAscii(entry.first) == folded;
            });
            if (it == extra.end())
                extra.emplace_back(key, value);
            else
                it->second = value;
        }
        ++cardIndex;
    }
    for (const auto& [field, value] : options.overrides) {
        if (!field) {
            const size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0)
                return Usage("create: --env wants NAME=VALUE");
            machine.env.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (field->option.repeatable) {
            // Each use adds to the key's list.
            const std::string list = field->format(machine);
            field->parse(machine, list.empty() ? value : list + ";" + value);
        } else if (!field->parse(machine, sim::Trim(value))) {
            return Usage("create: " + std::string(field->option.name) + ": bad value " + value);
        }
    }
    if (sim::MachineExists(dir) && !options.force)
        return Failed("a machine already exists in " + dir + " (--force replaces its description)");
    std::string error;
    if (!sim::CreateMachine(dir, machine, error) ||
        !plat::simbackend::PrepareMachineFiles(dir, machine, error))
        return Failed(error);
    std::printf("Created machine in %s\n", dir.c_str());
    return 0;
}

const char* KindText(sim::FunctionKind kind) {
    switch (kind) {
    case sim::FunctionKind::Q740:
        return "Q740 card";
    case sim::FunctionKind::Display:
        return "display adapter";
    case sim::FunctionKind::Other:
        break;
    }
    return "other";
}

std::string RegistryValueText(const sim::RegEntry& value);

// The display driver's device states, the power values and the program's registry state.
void ShowWindowsSide(const std::string& dir, const sim::MachineDescription& m) {
    sim::WindowsSide side;
    std::string error;
    if (!sim::ReadWindowsSide(m, side, error)) {
        std::printf("Windows side: %s\n", error.c_str());
        return;
    }
    std::vector<sim::DisplayDevice> devices = side.devices;
    sim::LoadDeviceStates(dir, devices);
    std::printf("Display devices:");
    bool any = false;
    for (const sim::DisplayDevice& d : devices) {
        if (!d.IsQ740())
            continue;
        std::printf("%s %s %s", any ? "," : "", d.Location().c_str(), sim::DeviceStateName(d.state));
        any = true;
    }
    std::printf("%s\n", any ? "" : " none");
    sim::PowerState power;
    if (sim::LoadPower(dir, side.power, power)) {
        std::printf(
            "Power: AC minimum processor state %u%%, AC display time-out %u s (in force: %u%%, %u s); "
            "execution state 0x%08X; priority class 0x%X; restart %s\n",
            power.acMinProcessor, power.acDisplayTimeout, power.activeMinProcessor,
            power.activeDisplayTimeout, power.executionState, power.priorityClass,
            power.restart.requested
                ? ("requested, " + sim::DescribeShutdownReason(power.restart.reason)).c_str()
                : "not requested");
    }
    const sim::RegTree tree = sim::RegistryStore(dir).Load();
    std::printf("Resume state:");
    bool found = false;
    for (const auto& [folded, key] : tree) {
        const std::string path = sim::ToUtf8(key.path);
        const bool program =
            sim::FoldCaseAscii(path).find(sim::FoldCaseAscii("Veskora Graphics\\VskQ740FwUpdater")) !=
            std::string::npos;
        const bool runOnce =
            sim::FoldCaseAscii(path).find(sim::FoldCaseAscii("CurrentVersion\\RunOnce")) != std::string::npos;
        if (!program && !runOnce)
            continue;
        for (const auto& [valueFolded, value] : key.values) {
            if (runOnce &&
                sim::FoldCaseAscii(sim::ToUtf8(value.name)) != sim::FoldCaseAscii("VskQ740FwUpdater"))
                continue;
            std::string text = RegistryValueText(value);
            if (text.size() > 160)
                text = text.substr(0, 157) + "...";
            std::printf("\n  %s  %s  %s", path.c_str(), sim::ToUtf8(value.name).c_str(), text.c_str());
            found = true;
        }
    }
    std::printf("%s\n", found ? "" : " clean");
}

int Show(const std::string& dir) {
    sim::MachineDescription m;
    std::string error;
    if (!sim::LoadMachine(dir, m, error))
        return Failed(error);
    std::printf("Machine: %s\n", dir.c_str());
    std::printf("  Windows %u.%u, %s; processor %u MHz; %s clock\n", m.windowsMajor, m.windowsMinor,
                m.os64 ? "64-bit" : "32-bit", m.processorMhz, m.virtualClock ? "virtual" : "real");
    std::printf("  Program: %s\n", m.programPath.c_str());
    std::printf("  Command line starts with: %s\n", sim::BuildCommandLine(m, {}).c_str());
    if (!m.lockedFiles.empty() || m.restartMovesFail || !m.hwServiceMissing.empty())
        std::printf("  Faults: locked files \"%s\"; restart-time moves %s; missing exports \"%s\"\n",
                    m.lockedFiles.c_str(), m.restartMovesFail ? "fail" : "work", m.hwServiceMissing.c_str());
    std::printf("  Display driver: %s; desktop manager: %s; hardware-access service: %s\n",
                m.displayDriverInstalled ? "installed" : "not installed",
                m.desktopManagerInstalled ? "installed" : "not installed",
                m.hwServiceInstalled ? "installed" : "not installed");
    std::printf("Environment:\n");
    for (const auto& [name, value] : sim::WindowsEnvironment(m))
        std::printf("  %s=%s\n", name.c_str(), value.c_str());
    std::printf("PCI functions:\n");
    int card = 0;
    for (const auto& f : m.pci) {
        std::printf("  %s  %04X:%04X  subsystem 0x%08X  rev %02X  class %06X  %s", f.Location().c_str(),
                    f.vendorId, f.deviceId, f.subsystem, f.revision, f.classCode, KindText(f.kind));
        if (f.kind == sim::FunctionKind::Q740) {
            const bool bar64 = (f.bars[0] & 7) == 4;
            uint8_t major = 0, minor = 0, build = 0;
            std::string why;
            const bool known = sim::ReadFpgaVersion(dir, f, card, major, minor, build, &why);
            std::printf(" %d, registers at 0x%llX (%s BAR)%s%s%s", card++,
                        static_cast<unsigned long long>(f.RegisterWindow()), bar64 ? "64-bit" : "32-bit",
                        f.mapFails ? ", mapping fails" : "", f.tracePath.empty() ? "" : ", trace ",
                        f.tracePath.c_str());
            if (known)
                std::printf(", FPGA firmware %u.%u.%u", major, minor, build);
            else
                std::printf(", FPGA firmware unreadable (%s)", why.c_str());
        }
        std::printf("\n");
    }
    ShowWindowsSide(dir, m);
    uint32_t code = 0;
    if (sim::ReadLastExitCode(dir, code)) {
        std::printf("Last run: exit code %u", code);
        for (const auto& [key, value] : sim::ReadRunRecord(dir))
            if (key != "exit-code")
                std::printf(", %s %s", key.c_str(), value.c_str());
        std::printf("\n");
    } else {
        std::printf("Last run: none recorded\n");
    }
    return 0;
}

std::string ValueText(const sim::RegEntry& value);
std::string RegistryValueText(const sim::RegEntry& value) {
    return ValueText(value);
}

std::string ValueText(const sim::RegEntry& value) {
    if (value.type == sim::kRegDword && value.data.size() == 4) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        char buf[48];
        std::snprintf(buf, sizeof buf, "REG_DWORD 0x%08X (%u)", v, v);
        return buf;
    }
    if (value.type == sim::kRegSz) {
        std::wstring text;
        if (sim::DecodeUtf16Le(value.data, text))
            return "REG_SZ " + sim::Quote(sim::ToUtf8(text));
        return "REG_SZ bytes " + sim::Quote(value.data);
    }
    if (value.type == kRegMultiSz && value.data.size() % 2 == 0) {
        // Null-terminated UTF-16LE strings, closed by one more null; empty strings may stand inside (a
        // restart-time delete has an empty target).
        std::string list = "REG_MULTI_SZ";
        std::wstring all;
        for (size_t i = 0; i + 1 < value.data.size(); i += 2)
            all += static_cast<wchar_t>(static_cast<unsigned char>(value.data[i]) |
                                        static_cast<unsigned char>(value.data[i + 1]) << 8);
        if (!all.empty() && all.back() == L'\0')
            all.pop_back(); // the closing null
        size_t start = 0;
        while (start < all.size()) {
            const size_t end = std::min(all.find(L'\0', start), all.size());
            list += " " + sim::Quote(sim::ToUtf8(all.substr(start, end - start)));
            start = end + 1;
        }
        return list;
    }
    const char* name = value.type == sim::kRegDword ? "REG_DWORD" : nullptr;
    return (name ? std::string(name) : "type " + std::to_string(value.type)) + " hex " +
           sim::HexBytes(value.data);
}

int Reg(const std::string& dir) {
    if (!sim::MachineExists(dir))
        return Failed("no machine in " + dir);
    const sim::RegTree tree = sim::RegistryStore(dir).Load();
    for (const auto& [folded, key] : tree) {
        std::printf("HKEY_LOCAL_MACHINE\\%s\n", sim::ToUtf8(key.path).c_str());
        for (const auto& [valueFolded, value] : key.values) {
            const std::string name = value.name.empty() ? "(default)" : sim::ToUtf8(value.name);
            std::printf("  %s  %s\n", name.c_str(), ValueText(value).c_str());
        }
    }
    return 0;
}

// Runs the program (the native build at `program`) as RunOnce starts it: its arguments as the C runtime
// splits the command line, the shell's folder as its current folder, this machine, this console.
int RunProgramEntry(const std::string& givenDir, const std::string& program, const std::string& commandLine) {
    // The program starts in another folder: the machine is named by its absolute path.
    char* real = ::realpath(givenDir.c_str(), nullptr);
    const std::string dir = real ? real : givenDir;
    std::free(real);
    std::vector<std::string> arguments = sim::SplitArguments(commandLine);
    if (arguments.empty())
        return -1;
    arguments[0] = program;
    const std::string folder = sim::MapPath(dir, sim::kShellFolder);
    sim::MakeDirectories(folder);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : arguments)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        ::setenv("VSK_SIM_MACHINE", dir.c_str(), 1);
        char* exe = ::realpath(program.c_str(), nullptr);
        if (exe == nullptr || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::execv(exe, argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A restart and the logon after it: every process ends, the restart-time file moves run, pending driver
// changes take effect, the power requests end; then the RunOnce entries run one after another (each value
// deleted before its command runs), and the desktop manager starts in every session. An entry that starts
// the updater runs the native program given by --program (or $VSK_SIM_PROGRAM); the machine's own
// programs run as the machine runs them; anything else does not start.
int Boot(const std::string& dir, const std::string& program) {
    if (!sim::MachineExists(dir))
        return Failed("no machine in " + dir);
    sim::MachineDescription m;
    std::string error;
    sim::WindowsSide side;
    if (!sim::LoadMachine(dir, m, error) || !sim::ReadWindowsSide(m, side, error))
        return Failed(error);
    sim::RestartReport report;
    if (!sim::RestartMachine(
            dir, side,
            [&](int& done, std::string& failures) {
                return plat::simbackend::RunRestartMoves(dir, done, failures);
            },
            report))
        return Failed("cannot write the state of " + dir);
    if (!sim::RestartCardFlashes(dir, m, error))
        std::fprintf(stderr, "%s\n", error.c_str());
    const int done = report.fileMoves;
    std::printf("Restarted: %d restart-time file operation%s carried out\n", done, done == 1 ? "" : "s");
    if (!report.moveFailures.empty())
        std::fprintf(stderr, "%s", report.moveFailures.c_str());
    sim::RegistryStore store(dir);
    sim::RunOnceQueue queue = sim::RunOnceQueue::AtLogon(store, m.os64);
    sim::RunOnceEntry entry;
    sim::MachineFiles files(dir);
    const std::string programFolded = sim::FoldCaseAscii(m.programPath);
    while (queue.Next(store, entry)) {
        const std::string command = sim::ToUtf8(entry.command);
        std::fprintf(stderr, "RunOnce %s: %s\n", sim::ToUtf8(entry.name).c_str(), command.c_str());
        const sim::ResolvedModule module =
            sim::ResolveModule(command, {sim::kShellFolder, "C:\\Windows"}, [&](const std::string& path) {
                return sim::FoldCaseAscii(path) == programFolded || files.IsFile(path);
            });
        if (module.error == 0 && sim::FoldCaseAscii(module.module) == programFolded) {
            if (program.empty())
                std::fprintf(stderr, "RunOnce %s: no program given (--program)\n",
                             sim::ToUtf8(entry.name).c_str());
            else
                std::fprintf(stderr, "RunOnce %s: exit code %d\n", sim::ToUtf8(entry.name).c_str(),
                             RunProgramEntry(dir, program, command));
        } else {
            const sim::ChildRun child = sim::StartProgram(dir, side, command, sim::kShellFolder, 1, 0, 0);
            if (child.startError != 0)
                std::fprintf(stderr, "RunOnce %s: cannot start (error %u)\n", sim::ToUtf8(entry.name).c_str(),
                             child.startError);
        }
        queue.Finished(store, entry);
    }
    if (!sim::FinishLogon(dir, side))
        return Failed("cannot write the processes of " + dir);
    return 0;
}

int RegSet(const std::string& dir, Arguments& args) {
    std::string key, name, kind, text;
    if (!args.Value(key) || !args.Value(name) || !args.Value(kind) || !args.Value(text) || !args.Done())
        return Usage("reg-set wants KEY NAME and one of --sz TEXT, --bytes TEXT, --dword N");
    uint32_t type = sim::kRegSz;
    std::string data;
    if (kind == "--sz") {
        data = sim::EncodeUtf16Le(sim::FromUtf8(text), true);
    } else if (kind == "--bytes") {
        data = text;
    } else if (kind == "--dword") {
        uint32_t v = 0;
        if (!sim::ParseU32(text, v))
            return Usage("reg-set: bad number " + text);
        type = sim::kRegDword;
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>(v >> (8 * i));
    } else {
        return Usage("reg-set: unknown value kind " + kind);
    }
    if (!sim::MachineExists(dir))
        return Failed("no machine in " + dir);
    sim::RegistryStore store(dir);
    const std::wstring wkey = sim::FromUtf8(key);
    if (store.CreateKey(wkey) != sim::kRegSuccess ||
        store.SetValue(wkey, sim::FromUtf8(name), type, data) != 0)
        return Failed("cannot write the registry of " + dir);
    return 0;
}

int RegDelete(const std::string& dir, Arguments& args) {
    std::string key, name;
    if (!args.Value(key))
        return Usage("reg-delete wants KEY [NAME]");
    const bool value = args.Value(name);
    if (!args.Done())
        return Usage("reg-delete wants KEY [NAME]");
    if (!sim::MachineExists(dir))
        return Failed("no machine in " + dir);
    sim::RegistryStore store(dir);
    const long status = value ? store.DeleteValue(sim::FromUtf8(key), sim::FromUtf8(name))
                              : store.DeleteKey(sim::FromUtf8(key));
    if (status == sim::kRegNotFound)
        return Failed("not found: " + key + (value ? " " + name : ""));
    if (status == sim::kRegAccessDenied)
        return Failed("the key has subkeys: " + key);
    return status == sim::kRegSuccess ? 0 : Failed("cannot write the registry of " + dir);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage("no command");
    const std::string command = argv[1];
    if (command == "help" || command == "--help" || command == "-h") {
        std::printf("%s", UsageText().c_str());
        return 0;
    }
    // --dir may stand anywhere after the command; take it out first.
    std::string dir = sim::DefaultMachineDir();
    std::vector<char*> rest = {argv[0], argv[1]};
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0) {
            if (i + 1 >= argc)
                return Usage("--dir wants a folder");
            dir = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    Arguments args(static_cast<int>(rest.size()), rest.data());
    if (command == "create")
        return Create(dir, args);
    if (command == "probe") {
        ::setenv("VSK_SIM_MACHINE", dir.c_str(), 1);
        return RunProbe(std::vector<std::string>(rest.begin() + 2, rest.end()));
    }
    if (command != "show" && command != "reg" && command != "reg-set" && command != "reg-delete" &&
        command != "boot")
        return Usage("unknown command " + command);
    if (command == "reg-set")
        return RegSet(dir, args);
    if (command == "reg-delete")
        return RegDelete(dir, args);
    if (command == "boot") {
        std::string program;
        if (const char* given = std::getenv("VSK_SIM_PROGRAM"))
            program = given;
        std::string word;
        while (args.Value(word)) {
            if (word != "--program" || !args.Value(program))
                return Usage("boot: unexpected argument " + word);
        }
        return Boot(dir, program);
    }
    if (!args.Done())
        return Usage(command + ": unexpected argument " + args.Next());
    return command == "show" ? Show(dir) : Reg(dir);
}
