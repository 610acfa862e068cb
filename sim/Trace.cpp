#include "sim/Trace.h"

#include <cstdarg>
#include <cstring>
#include <filesystem>

namespace sim {

std::shared_ptr<TraceFile> TraceFile::Open(const std::string& path) {
    // The folder is made when missing, so that a trace can name a new one.
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ignored);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file)
        return nullptr;
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    return std::shared_ptr<TraceFile>(new TraceFile(file));
}

TraceFile::~TraceFile() {
    std::fclose(file_);
}

void TraceFile::Write(const char* line, size_t length) {
    std::fwrite(line, 1, length, file_);
}

void TraceFile::Flush() {
    std::fflush(file_);
}

std::shared_ptr<TraceFile> TraceFiles::Get(const std::string& path) {
    if (path.empty())
        return nullptr;
    auto& file = files_[path];
    if (!file)
        file = TraceFile::Open(path);
    return file;
}

void Trace::Add(std::shared_ptr<TraceFile> file, std::string prefix) {
    if (file)
        sinks_.push_back({std::move(file), std::move(prefix)});
}

void Trace::Line(const char* format, ...) {
    if (sinks_.empty())
        return;
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    size_t length = static_cast<size_t>(n) < sizeof text - 1 ? static_cast<size_t>(n) : sizeof text - 2;
    text[length++] = '\n';
    for (const Sink& sink : sinks_) {
        if (sink.prefix.empty()) {
            sink.file->Write(text, length);
        } else {
            std::string line = sink.prefix;
            line.append(text, length);
            sink.file->Write(line.data(), line.size());
        }
    }
}

void Trace::Flush() {
    for (const Sink& sink : sinks_)
        sink.file->Flush();
}

} // namespace sim
