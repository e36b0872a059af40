#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>

namespace tc {

// How many cores the rest of the machine keeps busy (the user's other programs, the sound server, our own capture),
// measured between decodings. A decoding's threads wait for each other at every step of the engine's graph and
// spin briefly before they sleep; when a core is kept busy elsewhere the spinning thread burns the time its partner
// needs, and one thread decodes faster than two. Measured: docs/recognition.md, "Seventeenth round". Thread-safe.
class ProcessorLoadGauge {
public:
    // The processors' cumulative time in clock ticks, all cores together.
    struct Ticks {
        std::uint64_t busy = 0;
        std::uint64_t total = 0;
    };

    // The "cpu" line of /proc/stat; nothing when it cannot be read.
    static std::optional<Ticks> parse(std::string_view statLine);
    static std::optional<Ticks> read(const std::filesystem::path& stat = "/proc/stat");

    explicit ProcessorLoadGauge(int cores) : m_cores(cores) {}

    // A decoding ended: the time until the next one begins is counted.
    void decodingEnded(std::optional<Ticks> now);
    // A decoding begins: the time since the last one ended is counted, the recent pauses weighing most.
    void decodingBegins(std::optional<Ticks> now);
    // Cores busy while no decoding ran, over the recent pauses; 0 until a pause was measured.
    double busyCores() const;
    // The threads for the next decoding: one for each core at least half free, from one up to `most`.
    int threadsFor(int most) const;

private:
    const int m_cores;
    mutable std::mutex m_mutex;
    std::optional<Ticks> m_pauseBegan;
    // Ticks of the recent pauses, each older pause counted at half the weight of the one after it.
    double m_busy = 0;
    double m_total = 0;
};

} // namespace tc
