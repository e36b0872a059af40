#include "TranscriptionUI/TranscriptionViewModel.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"
#include "TranscriptionUI/settings/SettingsModel.h"

#include <QSettings>

namespace tc {

// Kept apart from the model so that tests wiring their own ports do not pull in every adapter.
TranscriptionViewModel::Dependencies TranscriptionViewModel::defaultDependencies()
{
    const CompositionRoot root{EngineConfig{EngineConfig::TranscriberKind::speechAnalyzer, "ja-JP"}};
    Dependencies dependencies;
    dependencies.permissions = std::make_shared<PermissionManager>();
    dependencies.calendarSources = CalendarSources::makeDefault();
    dependencies.calendar = root.makeCalendarProvider(dependencies.calendarSources);
    dependencies.responder = root.makeConversationResponder();
    dependencies.chooseLanguageModel = [root](const std::string& file) { root.chooseLanguageModel(file); };
    dependencies.store = std::make_shared<TranscriptHistoryStore>(TranscriptHistoryStore::defaultFileURL(),
                                                                  TranscriptHistoryStore::kDefaultMaxLinesPerSession);
    dependencies.makePipeline = [root](bool microphone, bool systemAudio, const AudioDeviceChoice& devices,
                                       DegradedCallback onDegraded, LevelCallback onLevel) {
        // The speech model chosen in the settings takes effect at each run's start; this is the run's thread, which
        // may load a model, and its own QSettings reads the same store as the window's.
        if (auto used = root.useSpeechModel(QSettings().value(SettingsModel::speechModelKey).toString().toStdString());
            !used && onDegraded)
            onDegraded(used.error());
        if (auto used = root.useFinalSpeechModel(
                QSettings().value(SettingsModel::finalSpeechModelKey).toString().toStdString());
            !used && onDegraded)
            onDegraded(used.error());
        return LivePipeline{
            root.makeLiveAudioSource(microphone, systemAudio, std::move(onDegraded), std::move(onLevel), devices),
            root.makeTranscriber()};
    };
    return dependencies;
}

} // namespace tc
