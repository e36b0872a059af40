#pragma once

#include "TranscriptionInfrastructure/speech/ModelAdvisor.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tc {

// How fast a model decodes on this machine: a refresh and a final of typical lengths, timed once per processor,
// engine build, device, thread count and model file, and remembered in a file beside the model. Not thread-safe;
// the record file is replaced whole, so processes measuring at once leave one valid record.
class ModelSpeedTrial {
public:
    // Does the work of decoding this many seconds of audio into this many tokens; throws when the engine fails.
    using Decoding = std::function<void(double seconds, int tokens)>;
    // Seconds on a monotonic clock.
    using Clock = std::function<double()>;

    // Audio of a refresh and of a final as the trial decodes them, and the tokens Japanese speech gives per second.
    static constexpr double refreshAudioSeconds = 3.0;
    static constexpr double finalAudioSeconds = 5.0;
    static constexpr double tokensPerSecond = 6.0;

    // device: the label of where it decodes ("CPU", "GPU (...)"); engine: the engine's version.
    ModelSpeedTrial(const std::filesystem::path& modelFile, int threads, const std::string& device,
                    const std::string& engine);

    // What was measured before under this key; nothing when never measured or the record is unreadable.
    std::optional<ModelSpeed> remembered() const;
    // One untimed warm-up, then a refresh and a final twice each, the quicker of each kept, and remembers them (the
    // record is left as it was when it cannot be written). Throws what decode throws.
    ModelSpeed measure(const Decoding& decode, const Clock& clock) const;
    // The record beside the model ("<models>/.model-speed.json").
    const std::filesystem::path& recordFile() const { return m_record; }
    const std::string& key() const { return m_key; }
    // The steady clock, in seconds.
    static double steadySeconds();

private:
    void remember(const ModelSpeed& speed) const;

    std::filesystem::path m_record;
    std::string m_key;
};

} // namespace tc
