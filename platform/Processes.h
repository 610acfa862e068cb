// The program's own process, the child processes it starts, and the other processes and sessions of the
// machine: the child-output pipe, a child run with its wait, the process snapshot and termination, the list
// of Windows sessions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Owned.h"

namespace plat {

class Processes;

// A wait without a limit.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// The anonymous pipe every child process of a run writes its standard output and error into: the write end
// inheritable, the read end not. Both ends are closed when the owner goes, or kept for the process's life.
class ChildPipe {
public:
    ChildPipe() = default;

    explicit operator bool() const { return static_cast<bool>(pipe_); }
    uintptr_t Get() const { return pipe_.Get(); }
    void KeepUntilExit() { pipe_.Forget(); }

private:
    friend class Processes;
    struct Traits {
        using From = Processes;
        static inline void Close(Processes& from, uintptr_t pipe);
    };
    ChildPipe(Processes* from, uintptr_t pipe) : pipe_(from, pipe) {}

    Owned<Traits> pipe_;
};

// How one child run went.
struct ChildRun {
    bool started = false; // the process was created
    bool ended = false;   // it ended within the wait
    bool exitCodeKnown = false;
    uint32_t exitCode = 0; // when known; while the child runs the system reports 259 (still active)
};

struct ProcessInfo {
    uint32_t pid = 0;
    uint32_t session = 0;
    std::wstring image; // the executable's file name, as the snapshot reports it
};

// Receives what a child wrote into the pipe, in the order it arrived.
using PipeSink = std::function<void(const char* bytes, size_t count)>;

class Processes {
public:
    virtual ~Processes() = default;
    // Ends the process at once with the whole code (other threads may still run).
    [[noreturn]] virtual void Exit(int code) = 0;

    // A new child-output pipe; an empty owner when it cannot be made.
    ChildPipe CreateChildPipe() { return ChildPipe(this, CreatePipeHandle()); }

    // Starts a command line (its first token names the program, as the system parses it; no separate
    // program name) with the pipe's write end as standard output and error, the program's own standard
    // input, environment and current folder, and handle inheritance; then waits up to `waitMs` for it to
    // end. While it waits, everything the pipe holds goes to `sink`, so that no child (this one or one
    // started earlier) blocks on a full pipe; after the child ended the pipe is emptied once more without
    // blocking. The pipe's write end stays open in this process, so the pipe never reports its end.
    virtual ChildRun RunChild(ChildPipe& pipe, const std::wstring& commandLine, uint32_t waitMs,
                              const PipeSink& sink) = 0;

    // Every process of the machine (all sessions), as one snapshot. False when no snapshot can be taken.
    virtual bool Snapshot(std::vector<ProcessInfo>& processes) = 0;
    // Opens the process with terminate access only and ends it with the code. False when it cannot be
    // opened or terminated.
    virtual bool Terminate(uint32_t pid, uint32_t exitCode) = 0;
    // The ids of the local server's Windows sessions. False when they cannot be listed.
    virtual bool EnumerateSessions(std::vector<uint32_t>& sessionIds) = 0;

protected:
    friend class ChildPipe;
    // What each backend provides: 0 when no pipe can be made.
    virtual uintptr_t CreatePipeHandle() = 0;
    virtual void ClosePipeHandle(uintptr_t pipe) = 0;
};

void ChildPipe::Traits::Close(Processes& from, uintptr_t pipe) {
    from.ClosePipeHandle(pipe);
}

} // namespace plat
