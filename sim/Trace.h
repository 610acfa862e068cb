// Trace files of the simulated cards: plain text, one event a line, appended. A card may write to its own
// file and to one file shared by all cards (each line of the shared file starts with the card's location).
// Tracing that is off is one empty-vector test per event.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// One open trace file (appended, fully buffered; std::fflush(nullptr) at process exit writes it out).
// Lines are written with one fwrite each, so lines of cards on different threads never mix.
class TraceFile {
public:
    static std::shared_ptr<TraceFile> Open(const std::string& path);
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    void Write(const char* line, size_t length);
    void Flush();

private:
    explicit TraceFile(std::FILE* file) : file_(file) {}
    std::FILE* file_;
};

// Opens each path once, however many cards name it.
class TraceFiles {
public:
    std::shared_ptr<TraceFile> Get(const std::string& path);

private:
    std::map<std::string, std::shared_ptr<TraceFile>> files_;
};

// Where one card's events go.
class Trace {
public:
    void Add(std::shared_ptr<TraceFile> file, std::string prefix);
    bool On() const { return !sinks_.empty(); }
    // printf-style; the line ends without "\n", which is added.
    void Line(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void Flush();

private:
    struct Sink {
        std::shared_ptr<TraceFile> file;
        std::string prefix;
    };
    std::vector<Sink> sinks_;
};

} // namespace sim
