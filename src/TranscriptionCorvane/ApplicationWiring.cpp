#include "TranscriptionCorvane/ApplicationWiring.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"
#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionInfrastructure/history/IndexedHistorySearchEngine.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"
#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"
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

SettingsModel::Dependencies ApplicationWiring::settings(std::shared_ptr<SpeechModelInstaller> installer)
{
    const auto paths = AppPaths::current();
    const auto devices = std::make_shared<PulseAudioDeviceDirectory>();
    SettingsModel::Dependencies dependencies;
    dependencies.speechModels = [installer] { return installer->models(); };
    dependencies.languageModels = [installer] { return installer->instructionTunedLanguageModels(); };
    dependencies.installSpeechModel = [installer](const std::string& name,
                                                  SpeechModelInstaller::ProgressCallback onProgress,
                                                  SpeechModelInstaller::DoneCallback onDone) {
        return installer->install(name, std::move(onProgress), std::move(onDone));
    };
    dependencies.installSpeechModelFrom = [installer](const std::string& name, const std::filesystem::path& file,
                                                      SpeechModelInstaller::ProgressCallback onProgress,
                                                      SpeechModelInstaller::DoneCallback onDone) {
        return installer->installFrom(name, file, std::move(onProgress), std::move(onDone));
    };
    dependencies.cancelInstall = [installer] { installer->cancel(); };
    dependencies.removeSpeechModel = [installer](const std::string& name) { return installer->remove(name); };
    dependencies.defaultSpeechModel = SpeechModelManager::defaultModelName();
    dependencies.figures = SettingsModel::readFigures(paths.catalogueFile().parent_path() / "speech-model-figures.json");
    dependencies.speechDevice = [] { return WhisperSpeechRecognitionEngine::deviceLabel(); };
    // One manager per thread that asks: the main thread reads the speeds, the worker measures.
    dependencies.measuredSpeed = [models = std::make_shared<SpeechModelManager>()](const std::string& name) {
        const auto file = models->locate(name);
        return file ? WhisperSpeechRecognitionEngine::measuredSpeed(*file) : std::nullopt;
    };
    dependencies.measureSpeed =
        [models = std::make_shared<SpeechModelManager>()](const std::string& name) -> Expected<void, std::string> {
        const auto file = models->locate(name);
        if (!file) return Unexpected{file.error()};
        return WhisperSpeechRecognitionEngine::measureSpeed(*file);
    };
    dependencies.microphones = [devices] { return devices->inputs(); };
    dependencies.outputs = [devices] { return devices->outputs(); };
    dependencies.defaultLanguageModelFile = CompositionRoot::installedLanguageModelFile();
    dependencies.historyFolder = paths.historyFile().parent_path();
    return dependencies;
}

} // namespace tc
