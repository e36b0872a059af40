#pragma once

// What a live pass of the recognition benchmark heard and produced, and how it is scored against the sentences
// that were played.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tc::bench {

// After the last sentence the pass goes on this long for its line.
constexpr double kTailSeconds = 4.0;

struct Sentence {
    std::string id;
    std::string kind;
    double start = 0;
    double end = 0;
    std::string text;
};

struct Event {
    bool final = false;
    std::string text;
    // Seconds on the recording's time line when the event arrived.
    double at = 0;
};

// What one live pass produced.
struct Pass {
    std::vector<Event> events;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double loadBefore = 0;
    double loadAfter = 0;
    // The process's peak during the pass, when the kernel could start the count again at its beginning.
    std::optional<double> peakMemoryMiB;
};

// CER (after the scoring's normalization), lines per sentence, splits, merges, misses, repeated phrases, Latin words
// nobody said, first volatile and final latencies, cores, each sentence's last line (its index among the final
// lines with text, -1 for none); with TC_BENCH_DETAIL set, prints each sentence's events.
nlohmann::json scoreSpeech(const std::vector<Sentence>& sentences, const Pass& pass);
// Lines made up over a recording without speech.
nlohmann::json scoreNonSpeech(const Pass& pass, double seconds);

} // namespace tc::bench
