#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace tc {

// Tells speech frames from pauses by their energy against a noise floor that follows the background: it drops
// at once to a quieter frame and rises quickly only while the level stays steady (hum, fan, hiss), which speech
// with its syllable rhythm never does for long. Not thread-safe: one owner.
class VoiceActivityDetector {
public:
    struct Settings {
        // A frame is speech when it is this far above the floor...
        double marginDb = 9.0;
        // ...and above this absolute level (dB relative to full scale).
        double minimumSpeechDb = -50.0;
        // Spread of the recent levels below which the background counts as steady.
        double steadySpreadDb = 3.0;
    };

    VoiceActivityDetector() = default;
    explicit VoiceActivityDetector(Settings settings);

    // Classifies one frame (any length, typically 20 ms) and updates the floor.
    bool isSpeech(std::span<const float> frame);
    // The current noise floor in dB relative to full scale.
    double noiseFloorDb() const { return m_floorDb; }
    // The level of a frame in dB relative to full scale (-100 for silence).
    static double levelDb(std::span<const float> frame);

private:
    static constexpr std::size_t kHistory = 50;

    Settings m_settings;
    double m_floorDb = 0;
    bool m_primed = false;
    std::array<double, kHistory> m_history{};
    std::size_t m_historyCount = 0;
    std::size_t m_historyNext = 0;
};

} // namespace tc
