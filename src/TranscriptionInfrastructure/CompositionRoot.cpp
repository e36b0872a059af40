#include "TranscriptionInfrastructure/CompositionRoot.h"

#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/assistant/ChosenLanguageModel.h"
#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

// Builds made without llama.cpp (while the engines are being built) get a stand-in that says so.
#if __has_include(<llama.h>)
#include "TranscriptionInfrastructure/assistant/LlamaLanguageModel.h"
#endif

#include <string>

namespace tc {

namespace {

constexpr std::int64_t kFileFrameSize = 1600;
constexpr std::uint32_t kMicrophoneTapFrames = 1024;

#if __has_include(<llama.h>)
std::shared_ptr<LanguageModel> defaultLanguageModel()
{
    return std::make_shared<LlamaLanguageModel>(LlamaLanguageModel::defaultOptions());
}
std::shared_ptr<LanguageModel> languageModelIn(const std::filesystem::path& file)
{
    return std::make_shared<LlamaLanguageModel>(LlamaLanguageModel::optionsFor(file));
}
std::shared_ptr<LanguageModel> installedLanguageModel()
{
    return std::make_shared<LlamaLanguageModel>(LlamaLanguageModel::installedOptions());
}
std::filesystem::path catalogueLanguageModelFile()
{
    return LlamaLanguageModel::installedOptions().modelFile;
}
#else
// Without llama.cpp the responder answers with quotes.
class MissingLanguageModel final : public LanguageModel {
public:
    Availability availability() override { return Availability::noModel; }
    std::string fileName() const override { return {}; }
    Reply respond(const std::string&, const std::string&, const std::string&, std::stop_token) override
    {
        throw LanguageModelError(LanguageModelError::Kind::unavailable, "オンデバイスAIが利用できません。");
    }
    double probabilityOfYes(const std::string&, const std::string&, const std::string&, const std::string&,
                            std::stop_token) override
    {
        throw LanguageModelError(LanguageModelError::Kind::unavailable, "オンデバイスAIが利用できません。");
    }
};
std::shared_ptr<LanguageModel> defaultLanguageModel()
{
    return std::make_shared<MissingLanguageModel>();
}
std::shared_ptr<LanguageModel> languageModelIn(const std::filesystem::path&)
{
    return std::make_shared<MissingLanguageModel>();
}
std::shared_ptr<LanguageModel> installedLanguageModel()
{
    return std::make_shared<MissingLanguageModel>();
}
std::filesystem::path catalogueLanguageModelFile()
{
    return {};
}
#endif

// The user's choice at start-up, replaced by each later choice.
std::shared_ptr<ChosenLanguageModel> chosenLanguageModel()
{
    return std::make_shared<ChosenLanguageModel>(defaultLanguageModel(), [](const std::filesystem::path& file) {
        return file.empty() ? installedLanguageModel() : languageModelIn(file);
    });
}

} // namespace

CompositionRoot::CompositionRoot(EngineConfig config, std::shared_ptr<LanguageModel> languageModel)
    : CompositionRoot(std::move(config), std::string{})
{
    if (!languageModel) return;
    m_languageModel = std::move(languageModel);
    m_chosenLanguageModel.reset();
}

CompositionRoot::CompositionRoot(EngineConfig config, const std::string& speechModelName)
    : CompositionRoot(std::move(config),
                      std::make_shared<WhisperSpeechRecognitionEngine>(
                          speechModelName.empty() ? SpeechModelManager::defaultModelName() : speechModelName, nullptr,
                          WhisperStreamingRecognizer::Settings{}, std::make_shared<SpeechModelInstaller>()))
{}

CompositionRoot::CompositionRoot(EngineConfig config, std::shared_ptr<SpeechRecognitionEngine> speechEngine,
                                 std::shared_ptr<LanguageModel> languageModel)
    : m_config(std::move(config)), m_speechEngine(std::move(speechEngine))
{
    if (languageModel) {
        m_languageModel = std::move(languageModel);
        return;
    }
    m_chosenLanguageModel = chosenLanguageModel();
    m_languageModel = m_chosenLanguageModel;
}

std::shared_ptr<LanguageModel> CompositionRoot::makeLanguageModel(const std::filesystem::path& file)
{
    return languageModelIn(file);
}

Expected<void, std::string> CompositionRoot::useSpeechModel(const std::string& name) const
{
    const auto engine = std::dynamic_pointer_cast<WhisperSpeechRecognitionEngine>(m_speechEngine);
    if (!engine) return {};
    const std::string wanted = name.empty() ? SpeechModelManager::defaultModelName() : name;
    const std::string current = engine->modelName();
    if (wanted == current) return {};
    if (auto switched = engine->switchModel(wanted); !switched)
        return Unexpected{"設定の音声認識モデル「" + wanted + "」に切り替えられなかったため、「" + current +
                          "」で続けます。" + switched.error()};
    return {};
}

Expected<void, std::string> CompositionRoot::useFinalSpeechModel(const std::string& name) const
{
    const auto engine = std::dynamic_pointer_cast<WhisperSpeechRecognitionEngine>(m_speechEngine);
    if (!engine) return {};
    // The same model for both passes is one pass.
    const std::string wanted = name == engine->modelName() ? std::string{} : name;
    if (wanted == engine->finalModelName()) return {};
    if (auto used = engine->useFinalModel(wanted); !used)
        return Unexpected{"確定行用の音声認識モデル「" + wanted + "」を使えなかったため、確定行も「" +
                          engine->modelName() + "」で読みます。" + used.error()};
    return {};
}

std::filesystem::path CompositionRoot::installedLanguageModelFile()
{
    return catalogueLanguageModelFile();
}

void CompositionRoot::chooseLanguageModel(const std::filesystem::path& file) const
{
    if (m_chosenLanguageModel) m_chosenLanguageModel->choose(file);
}

std::shared_ptr<Transcriber> CompositionRoot::makeTranscriber() const
{
    return std::make_shared<SpeechAnalyzerTranscriber>(m_config.locale, m_speechEngine);
}

std::shared_ptr<AudioSource> CompositionRoot::makeLiveAudioSource(bool microphone, bool systemAudio,
                                                                  DegradedCallback onDegraded, LevelCallback onLevel,
                                                                  const AudioDeviceChoice& devices) const
{
    std::vector<MixedAudioSource::Labeled> sources;
    if (microphone)
        sources.push_back({AudioSourceID::microphone, std::make_shared<MicrophoneAudioSource>(
                                                          kMicrophoneTapFrames, devices.microphone, onDegraded)});
    if (systemAudio)
        sources.push_back(
            {AudioSourceID::systemAudio, std::make_shared<SystemAudioSource>(devices.systemAudio, onDegraded)});
    return std::make_shared<MixedAudioSource>(std::move(sources), std::move(onDegraded), std::move(onLevel));
}

std::shared_ptr<AudioSource> CompositionRoot::makeFileAudioSource(const std::filesystem::path& file) const
{
    return std::make_shared<FileAudioSource>(file, kFileFrameSize);
}

std::shared_ptr<CalendarProvider> CompositionRoot::makeCalendarProvider() const
{
    return std::make_shared<EventKitCalendarProvider>();
}

std::shared_ptr<CalendarProvider> CompositionRoot::makeCalendarProvider(std::shared_ptr<CalendarSources> sources) const
{
    return std::make_shared<EventKitCalendarProvider>(std::make_shared<ConsentStore>(), std::move(sources));
}

std::shared_ptr<ConversationResponder> CompositionRoot::makeConversationResponder() const
{
    return std::make_shared<FoundationModelsConversationResponder>(m_languageModel);
}

} // namespace tc
