// The one way the run starts child processes: the child-output pipe made once per run, the runs of
// command lines with their wait limits, and the capture of what the children wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

// A child whose exit code is not available (it could not start, or the code cannot be read) counts as this.
constexpr uint32_t kNoExitCode = 42;

class CChildProcesses {
public:
    // The capture holds at most this many bytes of text (its buffer is one byte larger, for the NUL).
    static constexpr size_t kCaptureLimit = 65535;

    explicit CChildProcesses(plat::Processes& processes) : processes_(processes) {}

    // Makes the pipe (start-up, before the registry state is read). Without one no child can be started.
    bool CreatePipe();

    // Starts the command line and waits up to `waitMs` (plat::kWaitForever for no limit), collecting what
    // every child wrote so far. Returns the exit code; kNoExitCode when the child did not start or its
    // code is not available; a child still running at the end of the wait gives the system's "still
    // active" code, 259.
    uint32_t RunChildProcess(const std::wstring& commandLine, uint32_t waitMs);

    // Everything the children of this run wrote, up to kCaptureLimit bytes; what came later is dropped.
    const std::string& Captured() const { return captured_; }

private:
    void Collect(const char* bytes, size_t count);

    plat::Processes& processes_;
    plat::ChildPipe pipe_;
    std::string captured_;
};
