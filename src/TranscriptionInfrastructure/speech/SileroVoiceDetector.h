#pragma once

#include "TranscriptionInfrastructure/speech/VoiceProbabilityModel.h"

#include <filesystem>
#include <memory>

struct whisper_vad_context;

namespace tc {

// The Silero voice model, run by whisper.cpp, on 32 ms windows of a live stream. Not thread-safe: one owner.
class SileroVoiceDetector final : public VoiceProbabilityModel {
public:
    // Loads a ggml Silero model; throws TranscriberError::modelUnavailable naming the file when it cannot.
    static std::unique_ptr<SileroVoiceDetector> load(const std::filesystem::path& modelFile);

    std::size_t windowSamples() const override;
    float probability(std::span<const float> window) override;
    void reset() override;

private:
    struct Deleter {
        void operator()(whisper_vad_context* context) const;
    };

    explicit SileroVoiceDetector(std::unique_ptr<whisper_vad_context, Deleter> context);

    std::unique_ptr<whisper_vad_context, Deleter> m_context;
};

} // namespace tc
