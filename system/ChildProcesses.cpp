#include "system/ChildProcesses.h"

bool CChildProcesses::CreatePipe() {
    pipe_ = processes_.CreateChildPipe();
    return static_cast<bool>(pipe_);
}

void CChildProcesses::Collect(const char* bytes, size_t count) {
    const size_t room = kCaptureLimit - captured_.size();
    captured_.append(bytes, count < room ? count : room);
}

uint32_t CChildProcesses::RunChildProcess(const std::wstring& commandLine, uint32_t waitMs) {
    const plat::ChildRun run = processes_.RunChild(
        pipe_, commandLine, waitMs, [this](const char* bytes, size_t count) { Collect(bytes, count); });
    if (!run.started || !run.exitCodeKnown)
        return kNoExitCode;
    return run.exitCode;
}
