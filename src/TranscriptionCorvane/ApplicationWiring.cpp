#include "TranscriptionCorvane/ApplicationWiring.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionInfrastructure/history/IndexedHistorySearchEngine.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"
#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionUI/settings/SettingsModel.h"

#include <QSettings>

namespace tc {

TranscriptionViewModel::Dependencies ApplicationWiring::viewModel()
{
    const CompositionRoot root{EngineConfig{EngineConfig::TranscriberKind::speechAnalyzer, "ja-JP"}};
    TranscriptionViewModel::Dependencies dependencies;
    dependencies.permissions = std::make_shared<PermissionManager>();
    dependencies.calendarSources = CalendarSources::makeDefault();
    dependencies.calendar = root.makeCalendarProvider(dependencies.calendarSources);
    dependencies.responder = root.makeConversationResponder();
    dependencies.chooseLanguageModel = [root](const std::string& file) { root.chooseLanguageModel(file); };
    dependencies.store = std::make_shared<TranscriptHistoryStore>(TranscriptHistoryStore::defaultFileURL(),
                                                                  TranscriptHistoryStore::kDefaultMaxLinesPerSession);
    dependencies.makeSearchEngine = IndexedHistorySearchEngine::factory();
    dependencies.makePipeline = [root](bool microphone, bool systemAudio, const AudioDeviceChoice& devices,
                                       TranscriptionViewModel::DegradedCallback onDegraded,
                                       TranscriptionViewModel::LevelCallback onLevel) {
        // The speech model chosen in the settings takes effect at each run's start; this is the run's thread, which
        // may load a model, and its own QSettings reads the same store as the window's.
        if (auto used = root.useSpeechModel(QSettings().value(SettingsModel::speechModelKey).toString().toStdString());
            !used && onDegraded)
            onDegraded(used.error());
        if (auto used = root.useFinalSpeechModel(
                QSettings().value(SettingsModel::finalSpeechModelKey).toString().toStdString());
            !used && onDegraded)
            onDegraded(used.error());
        return TranscriptionViewModel::LivePipeline{
            root.makeLiveAudioSource(microphone, systemAudio, std::move(onDegraded), std::move(onLevel), devices),
            root.makeTranscriber()};
    };
    return dependencies;
}

ModelDownloadOffer::Dependencies ApplicationWiring::modelDownloadOffer(std::shared_ptr<SpeechModelInstaller> installer)
{
    const auto setup = installer->setup();
    ModelDownloadOffer::Dependencies dependencies;
    dependencies.isReady = [setup](const std::string& name) {
        return SpeechModelManager(setup.modelsDirectory, setup.catalogue).isVerified(name);
    };
    dependencies.install = [installer](const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                                       SpeechModelInstaller::DoneCallback onDone) {
        return installer->install(name, std::move(onProgress), std::move(onDone));
    };
    dependencies.cancel = [installer] { installer->cancel(); };
    dependencies.downloadBytes = [setup](const std::string& name) {
        const ModelCatalogue catalogue(setup.catalogue);
        const auto speech = catalogue.find(ModelCatalogue::Section::speech, name);
        if (!speech || speech->bytes == 0) return std::uint64_t{0};
        const auto voice = catalogue.defaultModel(ModelCatalogue::Section::voice);
        return speech->bytes + (voice ? voice->bytes : 0);
    };
    return dependencies;
}

} // namespace tc
