#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
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
// model manager, and a streaming recognizer per run over that model's weights (loaded once, shared by runs) and,
// when it is installed and sound, the voice model. Thread-safe: one mutex guards the loaded weights and the last
// notice; why a reinstall of the voice model failed has a lock of its own, shared with the install request.
class WhisperSpeechRecognitionEngine final : public SpeechRecognitionEngine {
public:
    // voiceInstaller, installing into the models' folder, puts back a missing or damaged voice model before a run;
    // without one, runs go on with loudness alone and say so.
    explicit WhisperSpeechRecognitionEngine(std::string modelName = SpeechModelManager::defaultModelName(),
                                            std::shared_ptr<SpeechModelManager> models = nullptr,
                                            WhisperStreamingRecognizer::Settings settings = {},
                                            std::shared_ptr<SpeechModelInstaller> voiceInstaller = nullptr);
    ~WhisperSpeechRecognitionEngine() override;

    // whisper.cpp's languages, Japanese as "ja-JP".
    std::vector<std::string> supportedLocales() override;
    // A request whose install names the command when the speech model is neither loaded nor installed and
    // verified; else, with a voice installer, one that reinstalls a missing or damaged voice model and never throws
    // (tried until an install fails); else nothing.
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const RecognizerModule& module) override;
    // Says so when the model is not loaded yet and its first load on this processor will time the engine's two
    // attentions (a few seconds, once).
    std::optional<std::string> preparationNotice(const RecognizerModule& module) override;
    // Loads the model on first use; throws TranscriberError when it is missing or cannot be read. A voice model that
    // cannot be used leaves loudness alone to cut the speech, and notice() says so.
    std::shared_ptr<StreamingRecognizer> makeRecognizer(const RecognizerModule& module) override;
    // The voice model's problem, with its fix, for the recognizer made last; nothing when it has the voice model.
    std::optional<std::string> notice(const RecognizerModule& module) override;

    // The BCP-47 locale for one of whisper.cpp's language codes ("ja" -> "ja-JP").
    static std::string localeForLanguage(const std::string& code);
    std::string modelName() const;
    // Checks and loads another installed model for the recognizers made from now on; when that fails, the model
    // in use stays loaded and in use. Nothing on success, otherwise the Japanese reason.
    std::optional<std::string> switchModel(const std::string& name);
    // Threads one decode uses; 0 in a build without whisper.cpp.
    static int decodingThreads();

private:
    struct VoiceModel {
        std::unique_ptr<VoiceProbabilityModel> model;
        // Why there is no model although one is wanted.
        std::optional<std::string> notice;
    };
    // The installed voice model for one recognizer, each with its own state.
    VoiceModel voiceModel(const std::string& speechModelName) const;

    std::string m_modelName;
    std::shared_ptr<SpeechModelManager> m_models;
    WhisperStreamingRecognizer::Settings m_settings;
    std::shared_ptr<SpeechModelInstaller> m_voiceInstaller;
    // Why an install of the voice model failed, once one has: later runs start at once, with loudness alone, and
    // their notice says why.
    struct VoiceInstallFailure {
        std::mutex mutex;
        std::optional<std::string> reason;
    };
    std::optional<std::string> voiceInstallFailure() const;
    std::shared_ptr<VoiceInstallFailure> m_voiceInstallFailure = std::make_shared<VoiceInstallFailure>();
    mutable std::mutex m_mutex;
    std::shared_ptr<WhisperContext> m_context;
    std::optional<std::string> m_voiceNotice;
};

} // namespace tc
