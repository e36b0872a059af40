#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/SpeechRecognitionEngine.h"
#include "TranscriptionInfrastructure/speech/WhisperStreamingRecognizer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tc {

class WhisperContext;

// whisper.cpp as the recognition engine: its languages as BCP-47 locales, one installed model checked by the
// model manager, and a streaming recognizer per run over that model's weights (loaded once, shared by runs).
// Thread-safe: one mutex guards the loaded weights.
class WhisperSpeechRecognitionEngine final : public SpeechRecognitionEngine {
public:
    explicit WhisperSpeechRecognitionEngine(std::string modelName = SpeechModelManager::defaultModelName(),
                                            std::shared_ptr<SpeechModelManager> models = nullptr,
                                            WhisperStreamingRecognizer::Settings settings = {});
    ~WhisperSpeechRecognitionEngine() override;

    // whisper.cpp's languages, Japanese as "ja-JP".
    std::vector<std::string> supportedLocales() override;
    // Nothing when the model is loaded already, or installed and verified; otherwise a request whose install
    // names the command.
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const RecognizerModule& module) override;
    // Loads the model on first use; throws TranscriberError when it is missing or cannot be read.
    std::shared_ptr<StreamingRecognizer> makeRecognizer(const RecognizerModule& module) override;

    // The BCP-47 locale for one of whisper.cpp's language codes ("ja" -> "ja-JP").
    static std::string localeForLanguage(const std::string& code);
    std::string modelName() const;
    // Checks and loads another installed model for the recognizers made from now on; when that fails, the model
    // in use stays loaded and in use. Nothing on success, otherwise the Japanese reason.
    std::optional<std::string> switchModel(const std::string& name);
    // Threads one decode uses; 0 in a build without whisper.cpp.
    static int decodingThreads();

private:
    // The installed voice model for one recognizer, each with its own state; nothing without one.
    std::unique_ptr<VoiceProbabilityModel> voiceModel() const;

    std::string m_modelName;
    std::shared_ptr<SpeechModelManager> m_models;
    WhisperStreamingRecognizer::Settings m_settings;
    mutable std::mutex m_mutex;
    std::shared_ptr<WhisperContext> m_context;
};

} // namespace tc
