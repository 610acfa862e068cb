// Runs a program as a child process for the bench and Wine tiers: fixed arguments, extra environment, bytes
// on standard input, standard output and error captured, a time limit.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct RunResult {
    int exitCode = -1;     // the child's exit status, or -1 when it did not exit normally
    bool timedOut = false; // killed after the time limit
    std::string out;       // standard output
    std::string err;       // standard error
};

struct RunOptions {
    std::vector<std::pair<std::string, std::string>> env; // added to (or replacing in) the environment
    std::string input;                                    // written to standard input, then closed
    std::string workDir;                                  // empty: the current folder
    int timeoutSeconds = 120;
    // When set, standard input stays open after `input`: the feed is called with the output so far whenever
    // the child may take more, returns the bytes to write next and sets `close` to end the input. It may
    // block (the child waits for its input meanwhile).
    std::function<std::string(const std::string& out, bool& close)> feed;
    // When set, called with the child's process id once it runs (to send it signals).
    std::function<void(int pid)> started;
};

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// A fresh folder under the system's temporary folder, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

} // namespace testsupport
