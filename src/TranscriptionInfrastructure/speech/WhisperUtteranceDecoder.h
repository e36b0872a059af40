#pragma once

#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct whisper_full_params;

namespace tc {

// Decodes utterances on one whisper state over shared weights; a GPU decoding that fails moves the decoder, and
// every later one made from the same weights, to the processor.
class WhisperUtteranceDecoder final : public UtteranceDecoder {
public:
    using State = std::unique_ptr<whisper_state, WhisperContext::StateDeleter>;

    // Decodes on the state, made over the context's weights, in the language ("ja").
    WhisperUtteranceDecoder(std::shared_ptr<WhisperContext> context, State state, std::string language,
                            DecodingPolicy policy);
    ~WhisperUtteranceDecoder() override;

    std::optional<DecodedUtterance> decode(std::span<const float> samples, const std::string& prompt, Pass pass,
                                           const std::function<bool()>& shouldAbort) override;
    std::optional<std::string> takeNotice() override;

private:
    std::optional<DecodedUtterance> decodeHere(std::span<const float> samples, const std::string& prompt, Pass pass,
                                               const std::function<bool()>& shouldAbort);

    struct Ended {
        WhisperContext& context;
        ~Ended();
    };

    struct Attempt {
        std::optional<DecodedUtterance> result;
        // The text repeated itself and was cut back to one copy.
        bool looped = false;
        // ...and what was left holds at most two different characters.
        bool loopedOnASound = false;
    };

    Attempt decodeOnce(const std::vector<float>& audio, const std::string& prompt, Pass pass, float temperature,
                       float fallback, const std::function<bool()>& shouldAbort);
    // The engine's settings for one attempt on that many samples; they point into prompt and shouldAbort.
    whisper_full_params parameters(std::size_t samples, const std::string& prompt, Pass pass, float temperature,
                                   float fallback, const std::function<bool()>& shouldAbort) const;
    // The text and its figures from the attempt the state holds, decoded at temperature.
    Attempt readAttempt(float temperature);

    std::shared_ptr<WhisperContext> m_context;
    State m_state;
    std::string m_language;
    DecodingPolicy m_policy;
    // This decoding's.
    int m_threads = 1;
    std::optional<std::string> m_notice;
};

} // namespace tc
