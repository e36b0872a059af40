#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace tc {

// Tells speech frames from pauses by their energy against a noise floor: the level that a tenth of the last
// three seconds' frames stay under. Speech always has quiet gaps between syllables, so the floor stays at the
// background under it, while a steady background (hum, fan, hiss) sets the floor at its own level within a few
// frames. Not thread-safe: one owner.
class VoiceActivityDetector {
public:
    struct Settings {
        // A frame is speech when it is this far above the floor...
        double marginDb = 9.0;
        // ...and above this absolute level (dB relative to full scale), low enough for a quiet microphone's soft
        // sentence ends. Measured: docs/recognition.md, "Seventh round".
        double minimumSpeechDb = -60.0;
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
    static constexpr std::size_t kHistory = 150;

    Settings m_settings;
    double m_floorDb = -100.0;
    std::array<double, kHistory> m_history{};
    std::size_t m_historyCount = 0;
    std::size_t m_historyNext = 0;
};

} // namespace tc
