#pragma once

#include <initializer_list>
#include <string_view>

namespace tc {

// Stage times for finding where a line's latency goes: with TC_LATENCY_TRACE naming a file, each mark appends one
// line "stage<TAB>monotonic nanoseconds<TAB>detail" to it (the clock every process on the machine shares); without
// it, marks cost one check of a flag. A diagnostic for bench/, not a log. Thread-safe.
class LatencyTrace {
public:
    // True when marks are written; read once per process.
    static bool enabled();
    // Appends one mark now; does nothing unless enabled.
    static void mark(std::string_view stage, std::string_view detail = {});
    // Appends one mark now with the figures as its detail, separated by spaces; formats nothing unless enabled.
    static void mark(std::string_view stage, std::initializer_list<double> figures);
};

} // namespace tc
