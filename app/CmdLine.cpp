#include "app/CmdLine.h"

#include <cstdio>
#include <cstring>

namespace {

// How an option takes the argument after it.
enum class Parameter {
    None,       // takes none
    Value,      // a number or a name; missing, it is reported by the option's name
    UpdateFile, // the update file: missing, or not ending in "xsvf", it has a message of its own
};

// One option: its spellings, its parameter, its help line (if it is listed) and what it sets.
struct OptionRow {
    // Every accepted spelling, compared without case; unused ones are null. On the help screen the first
    // two are the short and the long form.
    const char* forms[6];
    Parameter parameter;
    const char* missingName; // the name shown when the parameter is missing
    const char* helpParameter;
    const char* helpText; // null: not listed on the help screen
    // Sets the option's fields from its parameter (null for options without one). Null: the help screen.
    void (*apply)(CCmdLine& options, const char* parameter);
};

// The spellings are all different, so the order of the rows decides only the help screen's order.
constexpr OptionRow kOptions[] = {
    {{"/?", "-?", "--?", "-h", "--help", "-help"}, Parameter::None, nullptr, nullptr, nullptr, nullptr},
    {{"-q", "--quiet"},
     Parameter::None,
     nullptr,
     "",
     "Suppresses all prompts",
     [](CCmdLine& o, const char*) { o.quiet = 1; }},
    {{"-f", "--flash"},
     Parameter::UpdateFile,
     nullptr,
     "<Filename>",
     "Flashes an FPGA firmware file (*.xsvf)",
     [](CCmdLine& o, const char* p) { o.flashFile = p; }},
    {{"-b", "--nobeep"},
     Parameter::None,
     nullptr,
     "",
     "Suppresses the audible beep during the update process",
     [](CCmdLine& o, const char*) { o.beep = 0; }},
    {{"-x", "--xsvf"},
     Parameter::None,
     nullptr,
     "",
     "Force update to be performed by XSVF",
     [](CCmdLine& o, const char*) { o.forceXsvf = 1; }},
    {{"-n", "--noreboot"},
     Parameter::None,
     nullptr,
     "",
     "Prompt user to perform reboot and re-launch of VskQ740FwUpdater",
     [](CCmdLine& o, const char*) { o.noReboot = 1; }},
    {{"-i2c", "--override-i2c-speed"},
     Parameter::Value,
     "--override-i2c-speed",
     nullptr,
     nullptr,
     [](CCmdLine& o, const char* p) { o.i2cSpeedKhz = static_cast<uint32_t>(CCmdLine::ParseNumber(p)); }},
    {{"-c", "--calibrate"},
     Parameter::Value,
     "--calibrate",
     nullptr,
     nullptr,
     [](CCmdLine& o, const char* p) { o.calibrate = CCmdLine::ParseNumber(p) == 0 ? 0 : 1; }},
    {{"-v", "--verbose"},
     Parameter::Value,
     "-v",
     nullptr,
     nullptr,
     [](CCmdLine& o, const char* p) { o.verbose = CCmdLine::ParseNumber(p); }},
    {{"-tf", "--testflash"},
     Parameter::Value,
     "-tf",
     nullptr,
     nullptr,
     [](CCmdLine& o, const char* p) { o.testFlashFile = p; }},
    {{"-tc", "--testcount"},
     Parameter::Value,
     "-tc",
     nullptr,
     nullptr,
     [](CCmdLine& o, const char* p) {
         o.testCount = CCmdLine::ParseNumber(p);
         if (o.testCount == 0)
             o.testCount = -1;
         o.quiet = 1;
     }},
};

constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsIgnoreCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
    }
    return *a == *b;
}

// Checked once, by the compiler: no spelling belongs to two options, every option but help sets
// something, and every option with a parameter has a name for its missing parameter.
constexpr bool RowsAreSound() {
    for (const OptionRow& row : kOptions) {
        if (!row.apply && row.parameter != Parameter::None)
            return false;
        if (row.parameter == Parameter::Value && !row.missingName)
            return false;
        for (const char* form : row.forms) {
            if (!form)
                continue;
            int seen = 0;
            for (const OptionRow& other : kOptions)
                for (const char* otherForm : other.forms)
                    seen += otherForm && EqualsIgnoreCase(form, otherForm);
            if (seen != 1)
                return false;
        }
    }
    return true;
}
static_assert(RowsAreSound(), "the option table has a duplicate spelling or an incomplete row");

const OptionRow* Match(const char* arg) {
    for (const OptionRow& row : kOptions)
        for (const char* form : row.forms)
            if (form && EqualsIgnoreCase(arg, form))
                return &row;
    return nullptr;
}

// The update file must end in "xsvf", exactly and case-sensitively.
bool IsXsvfName(const char* name) {
    const size_t len = std::strlen(name);
    return len >= 4 && std::strcmp(name + len - 4, "xsvf") == 0;
}

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
    for (const OptionRow& row : kOptions) {
        if (!row.helpText)
            continue;
        char buffer[256];
        const int width = 20 - static_cast<int>(std::strlen(row.forms[1]));
        std::snprintf(buffer, sizeof buffer, "%s%-1s %s %-*s %s\n", row.forms[0], ",", row.forms[1], width,
                      row.helpParameter, row.helpText);
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
        const OptionRow* row = Match(arg);
        if (!row) {
            Say(console, std::string("Error: Invalid parameter: '") + arg + "'.");
            Say(console, "\n");
            success = false;
            continue;
        }
        if (!row->apply) {
            PrintHelp(console);
            return Outcome::Help;
        }
        const char* parameter = nullptr;
        if (row->parameter != Parameter::None && i + 1 < argc)
            parameter = argv[++i];
        if (row->parameter == Parameter::UpdateFile) {
            if (parameter)
                row->apply(*this, parameter);
            if (!parameter || !IsXsvfName(parameter)) {
                Say(console, "-f is specified but does not point to a .xsvf file.");
                Say(console, "\n");
                success = false;
            }
            continue;
        }
        if (row->parameter == Parameter::Value && !parameter) {
            Say(console, std::string(row->missingName) + " is specified but parameter is missing.");
            Say(console, "\n");
            success = false;
            continue;
        }
        row->apply(*this, parameter);
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
