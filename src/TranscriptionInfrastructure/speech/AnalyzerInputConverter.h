#pragma once

#include "TranscriptionInfrastructure/audio/SoxrResampler.h"
#include "TranscriptionInfrastructure/speech/StreamingRecognizer.h"

#include <cstddef>
#include <optional>
#include <span>

namespace tc {

// Turns mono float frames into buffers of a recognizer's format. Frames already in that format pass through
// without a resampler; others go through one libsoxr stream kept for the whole run, so no samples are lost
// between frames. Not thread-safe: owned by the one thread that feeds the recognizer.
class AnalyzerInputConverter {
public:
    explicit AnalyzerInputConverter(AnalyzerAudioFormat target);

    // The frame in the target format; nothing for an empty frame, a rate that is not finite and positive,
    // a target this converter cannot produce, or a conversion error (the frame is then dropped).
    std::optional<AnalyzerBuffer> makeBuffer(std::span<const float> samples, double sampleRate);
    // What the resampler still holds at the end of the input; nothing when there is nothing.
    std::optional<AnalyzerBuffer> flush();
    // Room for one converted block: trunc(target / source × frames) + 1024; nothing past 2^32 - 1 frames.
    static std::optional<std::size_t> outputCapacity(std::size_t frames, double sourceRate, double targetRate);
    // True once a frame needed resampling.
    bool hasResampler() const { return m_resampler.has_value(); }

private:
    AnalyzerBuffer makeTargetBuffer(std::span<const float> mono) const;

    AnalyzerAudioFormat m_target;
    std::optional<SoxrResampler> m_resampler;
};

} // namespace tc
