#include "TranscriptionInfrastructure/diagnostics/LatencyTrace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

namespace tc {

namespace {

struct TraceFile {
    std::mutex mutex;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};

    TraceFile()
    {
        const char* path = std::getenv("TC_LATENCY_TRACE");
        if (path && *path) file.reset(std::fopen(path, "a"));
    }
};

TraceFile& traceFile()
{
    static TraceFile trace;
    return trace;
}

} // namespace

bool LatencyTrace::enabled()
{
    static const bool on = traceFile().file != nullptr;
    return on;
}

void LatencyTrace::mark(std::string_view stage, std::string_view detail)
{
    if (!enabled()) return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    std::string line(stage);
    line += '\t';
    line += std::to_string(ns);
    line += '\t';
    // One mark, one line: a line break inside a detail would break the file apart.
    for (const char c : detail)
        line += c == '\n' || c == '\t' ? ' ' : c;
    line += '\n';
    auto& trace = traceFile();
    std::lock_guard lock(trace.mutex);
    std::fwrite(line.data(), 1, line.size(), trace.file.get());
    // Read while the app runs, and after it is killed.
    std::fflush(trace.file.get());
}

void LatencyTrace::mark(std::string_view stage, std::initializer_list<double> figures)
{
    if (!enabled()) return;
    std::string detail;
    for (const double figure : figures) {
        if (!detail.empty()) detail += ' ';
        detail += std::to_string(figure);
    }
    mark(stage, detail);
}

} // namespace tc
