#include "TranscriptionInfrastructure/CompositionRoot.h"

#include "TranscriptionInfrastructure/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/FileAudioSource.h"
#include "TranscriptionInfrastructure/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/LanguageModel.h"
#include "TranscriptionInfrastructure/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/MixedAudioSource.h"
#include "TranscriptionInfrastructure/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/SystemAudioSource.h"

// Builds made without llama.cpp (while the engines are being built) get a stand-in that says so.
#if __has_include(<llama.h>)
#include "TranscriptionInfrastructure/LlamaLanguageModel.h"
#endif

#include <mutex>
#include <string>

namespace tc {

namespace {

constexpr std::int64_t kFileFrameSize = 1600;
constexpr std::uint32_t kMicrophoneTapFrames = 1024;

#if __has_include(<llama.h>)
using InstalledLanguageModel = LlamaLanguageModel;
std::shared_ptr<InstalledLanguageModel> makeLanguageModel()
{
    return std::make_shared<LlamaLanguageModel>(LlamaLanguageModel::defaultOptions());
}
#else
class InstalledLanguageModel final : public LanguageModel {
public:
    Availability availability() override { return Availability::failed; }
    std::string respond(const std::string&, const std::string&, const std::string&, std::stop_token) override
    {
        throw LanguageModelError(LanguageModelError::Kind::unavailable, "オンデバイスAIが利用できません。");
    }
};
std::shared_ptr<InstalledLanguageModel> makeLanguageModel()
{
    return std::make_shared<InstalledLanguageModel>();
}
#endif

// Loading the language model takes seconds and hundreds of megabytes, so every responder built here shares
// one while any of them lives.
std::shared_ptr<LanguageModel> sharedLanguageModel()
{
    static std::mutex mutex;
    static std::weak_ptr<InstalledLanguageModel> shared;
    std::lock_guard lock(mutex);
    if (auto model = shared.lock()) return model;
    auto model = makeLanguageModel();
    shared = model;
    return model;
}

} // namespace

CompositionRoot::CompositionRoot(EngineConfig config) : m_config(std::move(config)) {}

std::shared_ptr<Transcriber> CompositionRoot::makeTranscriber() const
{
    return std::make_shared<SpeechAnalyzerTranscriber>(m_config.locale);
}

std::shared_ptr<AudioSource> CompositionRoot::makeLiveAudioSource(bool microphone, bool systemAudio,
                                                                  DegradedCallback onDegraded,
                                                                  LevelCallback onLevel) const
{
    std::vector<MixedAudioSource::Labeled> sources;
    if (microphone)
        sources.push_back({AudioSourceID::microphone, std::make_shared<MicrophoneAudioSource>(kMicrophoneTapFrames)});
    if (systemAudio) sources.push_back({AudioSourceID::systemAudio, std::make_shared<SystemAudioSource>()});
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

std::shared_ptr<ConversationResponder> CompositionRoot::makeConversationResponder() const
{
    return std::make_shared<FoundationModelsConversationResponder>(sharedLanguageModel());
}

} // namespace tc
