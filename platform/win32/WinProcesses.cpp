// The program's own process, its child processes and the machine's processes and sessions on Win32.
#include <windows.h>

#include <tlhelp32.h>
#include <wtsapi32.h>

#include <cstdio>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WinHandle.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

// How often a running child's output is collected while it is waited for.
constexpr DWORD kDrainPeriodMs = 20;

struct PipeEnds {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

// Passes on what the pipe holds now, without ever blocking: only as many bytes as are waiting are read.
void Drain(HANDLE read, const PipeSink& sink) {
    char buffer[4096];
    for (;;) {
        DWORD waiting = 0;
        if (!::PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) {
            return;
        }
        DWORD got = 0;
        const DWORD ask = waiting < sizeof buffer ? waiting : static_cast<DWORD>(sizeof buffer);
        if (!::ReadFile(read, buffer, ask, &got, nullptr) || got == 0) {
            return;
        }
        if (sink) {
            sink(buffer, got);
        }
    }
}

class WinProcesses final : public Processes {
public:
    // The exit code is passed on whole: codes above 255 (45067) reach the caller of the process.
    [[noreturn]] void Exit(int code) override {
        std::fflush(nullptr);
        ::ExitProcess(static_cast<UINT>(code));
    }

    ChildRun RunChild(ChildPipe& pipe, const std::wstring& commandLine, uint32_t waitMs,
                      const PipeSink& sink) override {
        ChildRun run;
        if (!pipe) {
            return run;
        }
        const PipeEnds& ends = *reinterpret_cast<const PipeEnds*>(pipe.Get());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = ends.write;
        startup.hStdError = ends.write;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION info = {};
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &info)) {
            return run;
        }
        run.started = true;
        ScopedHandle process(info.hProcess);
        ScopedHandle thread(info.hThread);
        const ULONGLONG start = ::GetTickCount64();
        for (;;) {
            DWORD slice = kDrainPeriodMs;
            if (waitMs != kWaitForever) {
                const ULONGLONG spent = ::GetTickCount64() - start;
                if (spent >= waitMs) {
                    break;
                }
                if (waitMs - spent < slice) {
                    slice = static_cast<DWORD>(waitMs - spent);
                }
            }
            const DWORD waited = ::WaitForSingleObject(process.Get(), slice);
            Drain(ends.read, sink);
            if (waited == WAIT_OBJECT_0) {
                run.ended = true;
                break;
            }
            if (waited != WAIT_TIMEOUT) {
                break;
            }
        }
        Drain(ends.read, sink);
        DWORD code = 0;
        if (::GetExitCodeProcess(process.Get(), &code)) {
            run.exitCodeKnown = true;
            run.exitCode = code;
        }
        return run;
    }

    bool Snapshot(std::vector<ProcessInfo>& processes) override {
        ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) {
            return false;
        }
        processes.clear();
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
             more = ::Process32NextW(snapshot.Get(), &entry)) {
            ProcessInfo process;
            process.pid = entry.th32ProcessID;
            DWORD session = 0;
            if (::ProcessIdToSessionId(entry.th32ProcessID, &session)) {
                process.session = session;
            }
            process.image = entry.szExeFile;
            processes.push_back(process);
        }
        return true;
    }

    bool Terminate(uint32_t pid, uint32_t exitCode) override {
        ScopedHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
        return process && ::TerminateProcess(process.Get(), exitCode) != FALSE;
    }

    bool EnumerateSessions(std::vector<uint32_t>& sessionIds) override {
        WTS_SESSION_INFOW* sessions = nullptr;
        DWORD count = 0;
        if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
            return false;
        }
        sessionIds.clear();
        for (DWORD i = 0; i < count; ++i) {
            sessionIds.push_back(sessions[i].SessionId);
        }
        ::WTSFreeMemory(sessions);
        return true;
    }

protected:
    // Both ends inheritable at first, then the read end taken back, so that only the write end reaches the
    // children.
    uintptr_t CreatePipeHandle() override {
        SECURITY_ATTRIBUTES security = {};
        security.nLength = sizeof security;
        security.bInheritHandle = TRUE;
        PipeEnds* ends = new PipeEnds;
        if (!::CreatePipe(&ends->read, &ends->write, &security, 0)) {
            delete ends;
            return 0;
        }
        ::SetHandleInformation(ends->read, HANDLE_FLAG_INHERIT, 0);
        return reinterpret_cast<uintptr_t>(ends);
    }

    void ClosePipeHandle(uintptr_t pipe) override {
        PipeEnds* ends = reinterpret_cast<PipeEnds*>(pipe);
        ::CloseHandle(ends->read);
        ::CloseHandle(ends->write);
        delete ends;
    }
};

} // namespace

std::unique_ptr<Processes> CreateProcesses() {
    return std::make_unique<WinProcesses>();
}

} // namespace plat::win
