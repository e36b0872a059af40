#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/speech/VoiceProbabilityModel.h"

#include <filesystem>
#include <memory>
#include <string>

struct whisper_vad_context;

namespace tc {

// The Silero voice model, run by whisper.cpp, on 32 ms windows of a live stream. Not thread-safe: one owner.
class SileroVoiceDetector final : public VoiceProbabilityModel {
public:
    // Loads a ggml Silero model, or says why not (Japanese, naming the file).
    static Expected<std::unique_ptr<SileroVoiceDetector>, std::string> load(const std::filesystem::path& modelFile);

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
