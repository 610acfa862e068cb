#include "app/CmdLine.h"

#include <cstdio>
#include <cstring>

namespace {

enum class Opt {
    Help,
    Quiet,
    NoBeep,
    NoReboot,
    Xsvf,
    I2cSpeed,
    Calibrate,
    Flash,
    Verbose,
    TestFlash,
    TestCount
};

struct OptionForm {
    const char* form;
    Opt option;
};

// Every accepted spelling, in matching order; the first match wins.
constexpr OptionForm kForms[] = {
    {"/?", Opt::Help},       {"-?", Opt::Help},
    {"--?", Opt::Help},      {"-h", Opt::Help},
    {"--help", Opt::Help},   {"-help", Opt::Help},
    {"-q", Opt::Quiet},      {"--quiet", Opt::Quiet},
    {"-b", Opt::NoBeep},     {"--nobeep", Opt::NoBeep},
    {"-n", Opt::NoReboot},   {"--noreboot", Opt::NoReboot},
    {"-x", Opt::Xsvf},       {"--xsvf", Opt::Xsvf},
    {"-i2c", Opt::I2cSpeed}, {"--override-i2c-speed", Opt::I2cSpeed},
    {"-c", Opt::Calibrate},  {"--calibrate", Opt::Calibrate},
    {"-f", Opt::Flash},      {"--flash", Opt::Flash},
    {"-v", Opt::Verbose},    {"--verbose", Opt::Verbose},
    {"-tf", Opt::TestFlash}, {"--testflash", Opt::TestFlash},
    {"-tc", Opt::TestCount}, {"--testcount", Opt::TestCount},
};

// The option name shown when its parameter is missing.
const char* MissingParameterName(Opt option) {
    switch (option) {
    case Opt::TestCount:
        return "-tc";
    case Opt::TestFlash:
        return "-tf";
    case Opt::Verbose:
        return "-v";
    case Opt::Calibrate:
        return "--calibrate";
    case Opt::I2cSpeed:
        return "--override-i2c-speed";
    default:
        return "";
    }
}

bool TakesParameter(Opt option) {
    switch (option) {
    case Opt::I2cSpeed:
    case Opt::Calibrate:
    case Opt::Flash:
    case Opt::Verbose:
    case Opt::TestFlash:
    case Opt::TestCount:
        return true;
    default:
        return false;
    }
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
    }
    return *a == *b;
}

bool Match(const char* arg, Opt& option) {
    for (const OptionForm& f : kForms) {
        if (EqualsIgnoreCase(arg, f.form)) {
            option = f.option;
            return true;
        }
    }
    return false;
}

// The update file must end in "xsvf", exactly and case-sensitively.
bool IsXsvfName(const char* name) {
    const size_t len = std::strlen(name);
    return len >= 4 && std::strcmp(name + len - 4, "xsvf") == 0;
}

struct HelpLine {
    const char* shortForm;
    const char* longForm;
    const char* parameter;
    const char* description;
};

constexpr HelpLine kHelpLines[] = {
    {"-q", "--quiet", "", "Suppresses all prompts"},
    {"-f", "--flash", "<Filename>", "Flashes an FPGA firmware file (*.xsvf)"},
    {"-b", "--nobeep", "", "Suppresses the audible beep during the update process"},
    {"-x", "--xsvf", "", "Force update to be performed by XSVF"},
    {"-n", "--noreboot", "", "Prompt user to perform reboot and re-launch of VskQ740FwUpdater"},
};

void Say(plat::Console& console, const std::string& text) {
    console.WriteNarrow(text);
}

} // namespace

CCmdLine::CCmdLine() = default;
CCmdLine::CCmdLine(const CCmdLine& other) = default;
CCmdLine& CCmdLine::operator=(const CCmdLine& other) = default;
CCmdLine::~CCmdLine() = default;

int32_t CCmdLine::ParseNumber(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + static_cast<uint32_t>(*p - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

void CCmdLine::PrintHelp(plat::Console& console) {
    Say(console, "VskQ740FwUpdater command line options:");
    Say(console, "\n================================\n");
    for (const HelpLine& line : kHelpLines) {
        char buffer[256];
        const int width = 20 - static_cast<int>(std::strlen(line.longForm));
        std::snprintf(buffer, sizeof buffer, "%s%-1s %s %-*s %s\n", line.shortForm, ",", line.longForm, width,
                      line.parameter, line.description);
        Say(console, buffer);
    }
    Say(console, "\n\n");
    Say(console, "Sample write (update/flash) command line:");
    Say(console, "\n=========================================\n");
    Say(console, "VskQ740FwUpdater -f UpdateFilename.xsvf");
    Say(console, "\n\n");
}

CCmdLine::Outcome CCmdLine::ParseArguments(int argc, char** argv, plat::Console& console) {
    beep = 1;
    bool success = true;
    Say(console, "\n\n");
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        Opt option;
        if (!Match(arg, option)) {
            Say(console, std::string("Error: Invalid parameter: '") + arg + "'.");
            Say(console, "\n");
            success = false;
            continue;
        }
        if (option == Opt::Help) {
            PrintHelp(console);
            return Outcome::Help;
        }
        const char* parameter = nullptr;
        if (TakesParameter(option)) {
            if (i + 1 < argc)
                parameter = argv[++i];
            if (option == Opt::Flash) {
                if (parameter)
                    flashFile = parameter;
                if (!parameter || !IsXsvfName(parameter)) {
                    Say(console, "-f is specified but does not point to a .xsvf file.");
                    Say(console, "\n");
                    success = false;
                }
                continue;
            }
            if (!parameter) {
                Say(console,
                    std::string(MissingParameterName(option)) + " is specified but parameter is missing.");
                Say(console, "\n");
                success = false;
                continue;
            }
        }
        switch (option) {
        case Opt::Quiet:
            quiet = 1;
            break;
        case Opt::NoBeep:
            beep = 0;
            break;
        case Opt::NoReboot:
            noReboot = 1;
            break;
        case Opt::Xsvf:
            forceXsvf = 1;
            break;
        case Opt::I2cSpeed:
            i2cSpeedKhz = static_cast<uint32_t>(ParseNumber(parameter));
            break;
        case Opt::Calibrate:
            calibrate = ParseNumber(parameter) == 0 ? 0 : 1;
            break;
        case Opt::Verbose:
            verbose = ParseNumber(parameter);
            break;
        case Opt::TestFlash:
            testFlashFile = parameter;
            break;
        case Opt::TestCount:
            testCount = ParseNumber(parameter);
            if (testCount == 0)
                testCount = -1;
            quiet = 1;
            break;
        default:
            break;
        }
    }
    return success ? Outcome::Accepted : Outcome::Errors;
}

int CCmdLine::Parse(int argc, char** argv, plat::Console& console, plat::Processes& processes) {
    switch (ParseArguments(argc, argv, console)) {
    case Outcome::Accepted:
        return 1;
    case Outcome::Help:
        console.Write(L"\n\nPress any key to exit...\n");
        break;
    case Outcome::Errors:
        Say(console, "\n");
        Say(console, "For more information, see the help file [-h].\n\nPress any key to exit...\n");
        break;
    }
    console.ReadKey();
    Say(console, "\n\n");
    processes.Exit(0);
    return 0; // not reached
}
