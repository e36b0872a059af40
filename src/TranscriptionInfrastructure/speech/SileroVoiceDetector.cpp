#include "TranscriptionInfrastructure/speech/SileroVoiceDetector.h"

#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <whisper.h>

#include <cmath>

namespace tc {

void SileroVoiceDetector::Deleter::operator()(whisper_vad_context* context) const
{
    whisper_vad_free(context);
}

SileroVoiceDetector::SileroVoiceDetector(std::unique_ptr<whisper_vad_context, Deleter> context)
    : m_context(std::move(context))
{}

Expected<std::unique_ptr<SileroVoiceDetector>, std::string>
SileroVoiceDetector::load(const std::filesystem::path& modelFile)
{
    WhisperContext::silenceEngineLog();
    whisper_vad_context_params params = whisper_vad_default_context_params();
    // One window is a few hundred microseconds of work: a second thread would only wake up to wait.
    params.n_threads = 1;
    params.use_gpu = false;
    whisper_vad_context* context = whisper_vad_init_from_file_with_params(modelFile.c_str(), params);
    if (!context)
        return Unexpected{"音声区間モデル（" + modelFile.string() +
                          "）を読み込めませんでした。scripts/install-models を実行して入れ直してください。"};
    // The engine allocates the model's memory of the stream without clearing it; a NaN left there would never decay
    // and the session would hear no voice at all.
    whisper_vad_reset_state(context);
    return std::unique_ptr<SileroVoiceDetector>(
        new SileroVoiceDetector(std::unique_ptr<whisper_vad_context, Deleter>(context)));
}

std::size_t SileroVoiceDetector::windowSamples() const
{
    return 512;
}

float SileroVoiceDetector::probability(std::span<const float> window)
{
    if (!whisper_vad_detect_speech_no_reset(m_context.get(), window.data(), static_cast<int>(window.size())))
        return 0.0F;
    const int count = whisper_vad_n_probs(m_context.get());
    const float probability = count > 0 ? whisper_vad_probs(m_context.get())[count - 1] : 0.0F;
    if (std::isfinite(probability)) return probability;
    // A state gone bad would stay bad: start again from silence.
    reset();
    return 0.0F;
}

void SileroVoiceDetector::reset()
{
    whisper_vad_reset_state(m_context.get());
}

} // namespace tc
