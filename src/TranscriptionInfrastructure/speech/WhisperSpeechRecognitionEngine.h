#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/speech/ModelAdvisor.h"
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
    // in use stays loaded and in use. Done, or the Japanese reason.
    Expected<void, std::string> switchModel(const std::string& name);
    // Threads one decode uses; 0 in a build without whisper.cpp.
    static int decodingThreads();
    // Two passes: finals of the recognizers made from now on are decoded with this installed, more accurate model,
    // the volatile text with modelName()'s. Empty turns them off. When the model cannot be loaded, finals stay with
    // modelName(). Done, or the Japanese reason.
    Expected<void, std::string> useFinalModel(const std::string& name);
    // The model finals are decoded with; empty without two passes.
    std::string finalModelName() const;
    // Where the loaded model decodes; before any load, where it would.
    static std::string deviceLabel();
    // The speed measured for the model file on this machine and device; nothing while unmeasured.
    static std::optional<ModelSpeed> measuredSpeed(const std::filesystem::path& modelFile);
    // Loads the model once to measure its speed, when it is not measured yet; done, or the Japanese reason.
    // Takes seconds to a minute (large models); any thread.
    static Expected<void, std::string> measureSpeed(const std::filesystem::path& modelFile);

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
    std::string m_finalModelName;
    std::shared_ptr<WhisperContext> m_finalContext;
    std::optional<std::string> m_voiceNotice;
};

} // namespace tc
