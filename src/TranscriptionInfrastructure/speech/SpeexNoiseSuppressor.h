#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct SpeexPreprocessState_;

namespace tc {

// Noise suppression over speexdsp's preprocessor, kept beside the raw time line: it learns the background's
// spectrum from the pauses, takes it out of every 20 ms frame and remembers the cleaned samples by their position,
// so the decoder can get a cleaned copy of an utterance the raw audio marked out. Voice detection stays on the raw
// audio: the cleaned pauses flicker with the remains of the noise, which merged sentences on our evaluation set.
// Not thread-safe: one owner.
class SpeexNoiseSuppressor {
public:
    // Nothing when speexdsp refuses the rate. suppressionDb is the most the background is lowered (negative);
    // cleaned samples older than historySeconds are forgotten.
    static std::optional<SpeexNoiseSuppressor> make(int sampleRate, int suppressionDb, double historySeconds);

    // Takes the next samples of the time line and cleans every whole frame.
    void append(std::span<const float> samples);
    // The cleaned copy of raw, which starts at sample `first` of the time line. Samples not cleaned yet (less than a
    // frame at the end) or already forgotten stay raw's own.
    std::vector<float> cleaned(std::size_t first, std::span<const float> raw) const;

private:
    struct Deleter {
        void operator()(SpeexPreprocessState_* state) const;
    };

    SpeexNoiseSuppressor(std::unique_ptr<SpeexPreprocessState_, Deleter> state, std::size_t frameSamples,
                         std::size_t historySamples);

    std::unique_ptr<SpeexPreprocessState_, Deleter> m_state;
    std::size_t m_frameSamples;
    std::size_t m_historySamples;
    std::vector<float> m_pending;
    std::vector<std::int16_t> m_frame;
    // Cleaned samples; the first is sample m_historyStart of the time line.
    std::vector<float> m_history;
    std::size_t m_historyStart = 0;
};

} // namespace tc
