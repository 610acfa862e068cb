// Environment, clock and process operations of the simulated machine.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/sim/SimParts.h"
#include "sim/Files.h"
#include "sim/Text.h"
#include "sim/WindowsPaths.h"

extern char** environ;

namespace plat::simbackend {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Taken while the program loads, before main: the process's start for the process clock.
const SteadyClock::time_point g_processStart = SteadyClock::now();

// Milliseconds this thread has slept on a virtual clock.
thread_local uint64_t t_virtualMs = 0;

constexpr uint64_t kPerformanceFrequency = 10000000; // 100 ns ticks, as current Windows reports

} // namespace

void SimMachine::ExitProcess(uint32_t code) {
    // Every output stream, so that the cards' trace files are complete too.
    std::fflush(nullptr);
    sim::RecordRun(dir, code,
                   {{"bring-to-front", std::to_string(bringToFront.load())},
                    {"close-removed", std::to_string(closeRemoved.load())},
                    {"high-priority", std::to_string(highPriority.load())},
                    {"control-events", std::to_string(controlEvents.load())},
                    {"cursor-visible", std::to_string(cursorVisible.load())},
                    {"text-attribute", std::to_string(textAttribute.load())}});
    ::_exit(static_cast<int>(code & 0xFF));
}

SimEnvironment::SimEnvironment(SimMachine& machine) : machine_(machine) {
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const size_t eq = text.find('=');
        if (eq != std::string::npos && eq > 0)
            variables_.emplace_back(sim::FromUtf8(text.substr(0, eq)), sim::FromUtf8(text.substr(eq + 1)));
    }
    for (const auto& [name, value] : sim::WindowsEnvironment(machine.description))
        SetVariable(sim::FromUtf8(name), sim::FromUtf8(value));
    // A variable that the description removes must not come back from the host either.
    for (const auto& [name, value] : machine.description.env) {
        if (!value.empty())
            continue;
        const std::wstring folded = sim::FoldCase(sim::FromUtf8(name));
        for (auto it = variables_.begin(); it != variables_.end();)
            it = sim::FoldCase(it->first) == folded ? variables_.erase(it) : it + 1;
    }
}

bool SimEnvironment::GetVariable(const std::wstring& name, std::wstring& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::wstring folded = sim::FoldCase(name);
    for (const auto& [key, text] : variables_) {
        if (sim::FoldCase(key) == folded) {
            value = text;
            return true;
        }
    }
    return false;
}

bool SimEnvironment::RemoveVariable(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::wstring folded = sim::FoldCase(name);
    for (auto it = variables_.begin(); it != variables_.end(); ++it) {
        if (sim::FoldCase(it->first) == folded) {
            variables_.erase(it);
            break;
        }
    }
    return true;
}

bool SimEnvironment::SetVariable(const std::wstring& name, const std::wstring& value) {
    if (name.empty() || name.find(L'=') != std::wstring::npos)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::wstring folded = sim::FoldCase(name);
    for (auto& [key, text] : variables_) {
        if (sim::FoldCase(key) == folded) {
            text = value;
            return true;
        }
    }
    variables_.emplace_back(name, value);
    return true;
}

std::wstring SimEnvironment::Expand(const std::wstring& text) {
    std::wstring out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find(L'%', pos);
        const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out += text.substr(pos);
            break;
        }
        out += text.substr(pos, open - pos);
        std::wstring value;
        if (close > open + 1 && GetVariable(text.substr(open + 1, close - open - 1), value)) {
            out += value;
            pos = close + 1;
        } else {
            // Unknown: keep the text; the closing % may open the next reference.
            out += text.substr(open, close - open);
            pos = close;
        }
    }
    return out;
}

std::wstring SimEnvironment::TempPath() {
    std::wstring path;
    if (!GetVariable(L"TMP", path) && !GetVariable(L"TEMP", path) && !GetVariable(L"USERPROFILE", path))
        path = WindowsFolder();
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    return path;
}

std::wstring SimEnvironment::WindowsFolder() {
    return L"C:\\Windows";
}

std::wstring SimEnvironment::ModulePath() {
    return sim::FromUtf8(machine_.description.programPath);
}

std::wstring SimEnvironment::CommandLine() {
    std::string raw;
    std::vector<std::string> arguments;
    if (sim::ReadFile("/proc/self/cmdline", raw)) {
        size_t pos = raw.find('\0'); // skip the host's program name
        while (pos != std::string::npos && pos + 1 < raw.size()) {
            const size_t end = raw.find('\0', pos + 1);
            arguments.push_back(raw.substr(pos + 1, end == std::string::npos ? end : end - pos - 1));
            pos = end;
        }
    }
    return sim::FromUtf8(sim::BuildCommandLine(machine_.description, arguments));
}

WindowsVersion SimEnvironment::Version() {
    return {machine_.description.windowsMajor, machine_.description.windowsMinor};
}

// The program is a 32-bit one: it runs under WOW64 exactly when Windows is 64-bit.
bool SimEnvironment::IsWow64Process() {
    return machine_.description.os64;
}

bool SimEnvironment::Is64BitWindows() {
    return machine_.description.os64;
}

std::string SimEnvironment::ToNarrow(const std::wstring& text) {
    return sim::ToUtf8(text);
}

std::wstring SimEnvironment::ToWide(const std::string& text) {
    return sim::FromUtf8(text);
}

uint64_t SimClock::ProcessMilliseconds() {
    const auto elapsed = SteadyClock::now() - g_processStart;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
           t_virtualMs;
}

void SimClock::SleepMs(uint32_t ms) {
    if (!machine_.description.virtualClock) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    t_virtualMs += ms;
    if (ms == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::microseconds(ms));
}

LocalTime SimClock::Now() {
    const std::time_t now = std::time(nullptr) + static_cast<std::time_t>(t_virtualMs / 1000);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

uint64_t SimClock::PerformanceCounter() {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch());
    return static_cast<uint64_t>(ns.count()) / 100 + t_virtualMs * (kPerformanceFrequency / 1000);
}

uint64_t SimClock::PerformanceFrequency() {
    return kPerformanceFrequency;
}

uint32_t SimClock::ProcessorMhz() {
    return machine_.description.processorMhz;
}

void SimProcesses::Exit(int code) {
    machine_.ExitProcess(static_cast<uint32_t>(code));
}

} // namespace plat::simbackend
