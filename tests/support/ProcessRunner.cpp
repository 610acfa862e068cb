#include "ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        setpgid(0, 0);
        for (const auto& [name, value] : options.env)
            setenv(name.c_str(), value.c_str(), 1);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (options.started)
        options.started(static_cast<int>(pid));
    SetNonBlocking(inPipe[1]);
    SetNonBlocking(outPipe[0]);
    SetNonBlocking(errPipe[0]);

    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    std::string input = options.input;
    bool feedClosed = false;
    int inFd = inPipe[1];
    if (input.empty() && !options.feed) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    char buffer[65536];
    while (outOpen || errOpen) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) {
            fds[n] = {outPipe[0], POLLIN, 0};
            outIdx = n++;
        }
        if (errOpen) {
            fds[n] = {errPipe[0], POLLIN, 0};
            errIdx = n++;
        }
        if (inFd >= 0 && options.feed && written == input.size()) {
            if (!feedClosed)
                input += options.feed(result.out, feedClosed);
            if (feedClosed && written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        if (inFd >= 0 && written < input.size()) {
            fds[n] = {inFd, POLLOUT, 0};
            inIdx = n++;
        }
        if (poll(fds, static_cast<nfds_t>(n), 100) < 0)
            continue;
        auto drain = [&](int idx, int fd, std::string& sink, bool& open) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR)))
                return;
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0)
                sink.append(buffer, static_cast<size_t>(got));
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                open = false;
        };
        drain(outIdx, outPipe[0], result.out, outOpen);
        drain(errIdx, errPipe[0], result.err, errOpen);
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(inFd, input.data() + written, input.size() - written);
            if (put > 0)
                written += static_cast<size_t>(put);
            if (put < 0 && errno != EAGAIN) {
                close(inFd);
                inFd = -1;
            } else if (written == input.size() && !options.feed) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    if (result.timedOut)
        kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    if (!result.timedOut && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vsk-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

} // namespace testsupport
