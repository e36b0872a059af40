#include "TranscriptionUI/TranscriptionViewModel.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"

namespace tc {

// Kept apart from the model so that tests wiring their own ports do not pull in every adapter.
TranscriptionViewModel::Dependencies TranscriptionViewModel::defaultDependencies()
{
    const CompositionRoot root{EngineConfig{EngineConfig::TranscriberKind::speechAnalyzer, "ja-JP"}};
    Dependencies dependencies;
    dependencies.permissions = std::make_shared<PermissionManager>();
    dependencies.calendar = root.makeCalendarProvider();
    dependencies.responder = root.makeConversationResponder();
    dependencies.store = std::make_shared<TranscriptHistoryStore>(TranscriptHistoryStore::defaultFileURL(),
                                                                  TranscriptHistoryStore::kDefaultMaxLinesPerSession);
    dependencies.makePipeline = [root](bool microphone, bool systemAudio, DegradedCallback onDegraded,
                                       LevelCallback onLevel) {
        return LivePipeline{
            root.makeLiveAudioSource(microphone, systemAudio, std::move(onDegraded), std::move(onLevel)),
            root.makeTranscriber()};
    };
    return dependencies;
}

} // namespace tc
