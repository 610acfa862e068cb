// q740sim: creates, shows and edits simulated Windows machines for the native build of the program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/SimService.h"
#include "sim/Files.h"
#include "sim/Fpga.h"
#include "sim/Machine.h"
#include "sim/Registry.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"
#include "tools/q740sim/Probe.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kRegMultiSz = 7;

const char kUsage[] =
    "usage: q740sim COMMAND [--dir DIR] [options]\n"
    "  create [--from FILE] [--force] [--windows MAJOR.MINOR] [--os32] [--cards N] [--bar32]\n"
    "         [--high-windows] [--map-fail INDEX] [--no-driver] [--no-desktop-manager]\n"
    "         [--service-installed] [--virtual-clock] [--mhz N] [--program PATH]\n"
    "         [--command-name NAME] [--env NAME=VALUE]... [--locked-file PATH]... [--restart-moves-fail]\n"
    "         [--service-missing EXPORT]...\n"
    "                        make a machine (the default one unless options say otherwise)\n"
    "  show                  print the machine, its environment and PCI functions, the last exit code\n"
    "  reg                   print the registry (HKEY_LOCAL_MACHINE)\n"
    "  reg-set KEY NAME (--sz TEXT | --bytes TEXT | --dword N)\n"
    "                        create KEY if needed and set a value (--sz: UTF-16LE with its null)\n"
    "  reg-delete KEY [NAME] delete a value, or a key without subkeys\n"
    "  boot                  restart the machine: carry out the pending restart-time file moves\n"
    "  probe info [TEXT...] | keys | write | ctrl | sleep MS | exit CODE\n"
    "                        run platform operations as the program would on this machine\n"
    "DIR defaults to $VSK_SIM_MACHINE, else .q740-sim\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "q740sim: %s\n%s", message.c_str(), kUsage);
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

struct CreateOptions {
    std::string from;
    bool force = false;
    int cards = -1;
    bool bar32 = false, highWindows = false;
    std::vector<int> mapFail;
};

int Create(const std::string& dir, Arguments& args) {
    sim::MachineDescription machine = sim::DefaultMachine();
    CreateOptions options;
    std::vector<std::string> overrides; // applied after --from
    while (!args.Done()) {
        const std::string arg = args.Next();
        std::string value;
        uint32_t number = 0;
        if (arg == "--from" && args.Value(options.from)) {
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--cards" && args.Value(value) && sim::ParseU32(value, number) && number <= 32) {
            options.cards = static_cast<int>(number);
        } else if (arg == "--bar32") {
            options.bar32 = true;
        } else if (arg == "--high-windows") {
            options.highWindows = true;
        } else if (arg == "--map-fail" && args.Value(value) && sim::ParseU32(value, number)) {
            options.mapFail.push_back(static_cast<int>(number));
        } else if ((arg == "--windows" || arg == "--mhz" || arg == "--program" || arg == "--command-name" ||
                    arg == "--env" || arg == "--locked-file" || arg == "--service-missing") &&
                   args.Value(value)) {
            overrides.push_back(arg);
            overrides.push_back(value);
        } else if (arg == "--os32" || arg == "--no-driver" || arg == "--no-desktop-manager" ||
                   arg == "--service-installed" || arg == "--virtual-clock" ||
                   arg == "--restart-moves-fail") {
            overrides.push_back(arg);
            overrides.push_back("");
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
        ++cardIndex;
    }
    for (size_t i = 0; i < overrides.size(); i += 2) {
        const std::string& option = overrides[i];
        const std::string& value = overrides[i + 1];
        std::string error;
        if (option == "--windows" || option == "--mhz" || option == "--program" ||
            option == "--command-name") {
            // Reuse the description's own parsing so that the option accepts what the file accepts.
            const std::string key = option == "--mhz" ? "mhz" : option.substr(2);
            const std::string text = "[machine]\n" + key + " = " + value + "\n";
            sim::MachineDescription parsed;
            if (!sim::ParseDescription(text, parsed, error))
                return Usage("create: " + option + ": bad value " + value);
            if (option == "--windows")
                machine.windowsMajor = parsed.windowsMajor, machine.windowsMinor = parsed.windowsMinor;
            else if (option == "--mhz")
                machine.processorMhz = parsed.processorMhz;
            else if (option == "--program")
                machine.programPath = parsed.programPath;
            else
                machine.commandName = parsed.commandName;
        } else if (option == "--env") {
            const size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0)
                return Usage("create: --env wants NAME=VALUE");
            machine.env.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (option == "--locked-file" || option == "--service-missing") {
            std::string& list = option == "--locked-file" ? machine.lockedFiles : machine.hwServiceMissing;
            list += (list.empty() ? "" : ";") + value;
        } else if (option == "--restart-moves-fail") {
            machine.restartMovesFail = true;
        } else if (option == "--os32") {
            machine.os64 = false;
        } else if (option == "--no-driver") {
            machine.displayDriverInstalled = false;
        } else if (option == "--no-desktop-manager") {
            machine.desktopManagerInstalled = false;
        } else if (option == "--service-installed") {
            machine.hwServiceInstalled = true;
        } else if (option == "--virtual-clock") {
            machine.virtualClock = true;
        }
    }
    if (sim::MachineExists(dir) && !options.force)
        return Failed("a machine already exists in " + dir + " (--force replaces its description)");
    std::string error;
    if (!sim::CreateMachine(dir, machine, error) ||
        !plat::simbackend::PrepareServiceFiles(dir, machine, error))
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
            const bool known = sim::ReadFpgaVersion(dir, f, card, major, minor, build);
            std::printf(" %d, registers at 0x%llX (%s BAR)%s%s%s", card++,
                        static_cast<unsigned long long>(f.RegisterWindow()), bar64 ? "64-bit" : "32-bit",
                        f.mapFails ? ", mapping fails" : "", f.tracePath.empty() ? "" : ", trace ",
                        f.tracePath.c_str());
            if (known)
                std::printf(", FPGA firmware %u.%u.%u", major, minor, build);
            else
                std::printf(", FPGA firmware unreadable");
        }
        std::printf("\n");
    }
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

// A restart: the restart-time file moves are carried out, as Windows does before anything else runs.
int Boot(const std::string& dir) {
    if (!sim::MachineExists(dir))
        return Failed("no machine in " + dir);
    int done = 0;
    std::string failures;
    if (!plat::simbackend::RunRestartMoves(dir, done, failures))
        return Failed("cannot write the registry of " + dir);
    std::printf("Restarted: %d restart-time file operation%s carried out\n", done, done == 1 ? "" : "s");
    if (!failures.empty())
        std::fprintf(stderr, "%s", failures.c_str());
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
        std::printf("%s", kUsage);
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
    if (!args.Done())
        return Usage(command + ": unexpected argument " + args.Next());
    if (command == "boot")
        return Boot(dir);
    return command == "show" ? Show(dir) : Reg(dir);
}
