#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <span>

namespace tc {

// A smoothed loudness of one member's frames, reported at most once per 80 ms. Used by one thread at a time.
class LevelMeter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Weight of the newest frame's RMS in the moving average.
    static constexpr float smoothing = 0.3f;
    // Least time between two reports.
    static constexpr std::chrono::milliseconds minInterval{80};

    // Reads the time from clock (a monotonic one by default; tests pass their own).
    explicit LevelMeter(Clock clock = {});

    // Folds one frame's RMS into the average; returns the average (at most 1) when a report is due.
    // An empty frame changes nothing and reports nothing.
    std::optional<float> update(std::span<const float> samples);

    // The moving average, not clamped.
    float average() const { return m_ema; }

private:
    Clock m_clock;
    float m_ema = 0.0f;
    std::optional<std::chrono::steady_clock::time_point> m_lastEmit;
};

} // namespace tc
