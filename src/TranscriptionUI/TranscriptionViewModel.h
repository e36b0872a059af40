#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/CalendarAuthorizationStatus.h"
#include "TranscriptionApplication/CalendarProvider.h"
#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionApplication/OutputEvent.h"
#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionDomain/CalendarEvent.h"
#include "TranscriptionDomain/ConversationAnswer.h"
#include "TranscriptionDomain/Expected.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/LiveCaptionContent.h"
#include "TranscriptionDomain/LiveCaptionStyle.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptExportFormat.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"
#include "TranscriptionInfrastructure/settings/PermissionManager.h"
#include "TranscriptionUI/presentation/CalendarBrowsing.h"
#include "TranscriptionUI/presentation/ConversationAsking.h"
#include "TranscriptionUI/presentation/HistoryAutosave.h"
#include "TranscriptionUI/presentation/HistorySearch.h"
#include "TranscriptionUI/presentation/NoticeLog.h"
#include "TranscriptionUI/presentation/ReadingPosition.h"
#include "TranscriptionUI/presentation/RunControl.h"
#include "TranscriptionUI/presentation/SourceAccess.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace tc {

class CalendarSources;
class MainThreadHop;
class TranscriptHistoryStore;

// The one observable object behind the main window: the transcript and caption of the current session, over
// collaborators for run control, sources and permissions, autosave, calendar browsing, reading position and
// questions, whose state it forwards. Lives on the main thread and is touched only there; every field has a
// getter and a change signal that fires only when the stored value really changes.
// Blocking port calls (permissions, calendar, responder, history file, the run itself) happen on background
// threads; their results come back through queued calls, so an operation marked "async" returns at once and
// calls its optional `done` on the main thread when finished (never after the model is destroyed).
class TranscriptionViewModel : public QObject {
    Q_OBJECT

public:
    using Status = PermissionManager::Status;

    using LivePipeline = RunControl::LivePipeline;
    using DegradedCallback = RunControl::DegradedCallback;
    using LevelCallback = RunControl::LevelCallback;
    using PipelineFactory = RunControl::PipelineFactory;
    using Clock = std::function<Date()>;
    using Done = std::function<void()>;

    struct Timings {
        // Quiet time after the last change before the history is written.
        std::chrono::milliseconds saveDelay{700};
        // How long a focused line stays highlighted.
        std::chrono::milliseconds highlightDuration{2000};
        // While the answering model is unavailable (still loading, or installed later), how often to ask again.
        std::chrono::milliseconds availabilityRecheck{5000};
    };

    // Everything the model talks to; wired once by the application (defaultDependencies) or by a test. All
    // ports and the pipeline factory are required.
    struct Dependencies {
        std::shared_ptr<PermissionManager> permissions;
        std::shared_ptr<CalendarProvider> calendar;
        // The sources behind `calendar`, for the settings to list and change; may be null.
        std::shared_ptr<CalendarSources> calendarSources;
        std::shared_ptr<ConversationResponder> responder;
        std::shared_ptr<TranscriptHistoryStore> store;
        // Holds "optInMic", "optInSystemAudio", "systemAudioRequested"; not owned. Null: the application's
        // default QSettings.
        QSettings* settings = nullptr;
        PipelineFactory makePipeline;
        // Points the responder at another language model file (empty: the installed default); empty when the
        // responder's model is fixed.
        std::function<void(const std::string& file)> chooseLanguageModel;
        // Empty: the wall clock.
        Clock now;
        Timings timings;
    };

    // The application's adapters: permission manager, composition-root calendar, responder and live pipeline
    // (default EngineConfig: ja-JP), the history store in the user's data directory, default settings.
    static Dependencies defaultDependencies();

    static constexpr std::int64_t askMaxLines = ConversationAsking::askMaxLines;
    static constexpr std::int64_t levelHistoryLength = RunControl::levelHistoryLength;

    // Touches no file, asks for no permission, starts nothing. Throws std::invalid_argument when a port is missing.
    explicit TranscriptionViewModel(Dependencies dependencies, QObject* parent = nullptr);
    // Stops the run and writes the current session like shutdown().
    ~TranscriptionViewModel() override;

    // --- Run control and transcript ---

    // Start-up, once when the window is first shown: load history, refresh permissions, read the question
    // feature's availability, then start transcription. The calendar's status and the day's events are read
    // alongside: a slow calendar never holds up the start, only `done`, which follows both. async.
    void bootstrap(Done done = {});
    // Starts a run unless running or canStart() is false; clears the notices.
    void startTranscription();
    // Stops the run and marks the model paused; the transcript stays.
    void pauseTranscription() { m_run->pause(); }
    // The window's "再開": clears isPaused, then startTranscription().
    void resumeTranscription() { m_run->resume(); }
    // The window became active: re-reads the permissions, then starts a run unless running or paused. async.
    void sceneDidBecomeActive(Done done = {});
    // Stops the current run and starts a new one. async.
    void restartTranscription(Done done = {}) { m_run->restart(std::move(done)); }
    // Applies one event of the runner (or a degradation notice).
    void handle(const OutputEvent& event);
    // For the application's aboutToQuit: stops the run and writes the current session with its end time,
    // waiting for the write. Safe to call more than once.
    void shutdown();
    // After shutdown(): why its write failed (Japanese), so the lines can still be saved elsewhere; nothing when
    // it succeeded or had nothing to write.
    const std::optional<std::string>& finalSaveError() const { return m_autosave->finalSaveError(); }

    const std::vector<FinalizedLine>& finalizedLines() const { return m_finalizedLines; }
    const std::string& volatileText() const { return m_volatileText; }
    const std::vector<std::string>& notices() const { return m_notices->notices(); }
    bool isRunning() const { return m_run->isRunning(); }
    bool isPaused() const { return m_run->isPaused(); }
    std::int64_t runGeneration() const { return m_run->runGeneration(); }
    const Uuid& currentSessionID() const { return m_currentSessionID; }
    Date currentSessionStartedAt() const { return m_currentSessionStartedAt; }
    // The caption panel's lines; changes are signalled by liveCaptionContentChanged.
    const LiveCaptionContent& liveCaptionContent() const { return m_liveCaptionContent; }
    // Whether caption lines begin with their speaker's tag ("[自分] "); off until the window turns it on.
    bool captionShowsSpeaker() const { return m_captionShowsSpeaker; }
    void setCaptionShowsSpeaker(bool value);
    // How many lines the caption holds; the caption style's maxLines until the window passes the chosen number.
    std::int64_t captionLineCount() const { return m_captionLineCount; }
    void setCaptionLineCount(std::int64_t count);
    // The current session (when it has lines) followed by the past sessions; recompute on
    // finalizedLinesChanged / pastSessionsChanged / isRunningChanged.
    std::vector<TranscriptSession> allSessions() const;
    // The current session: no end time while running, now otherwise.
    TranscriptSession currentSessionSnapshot() const;

    // --- Sources, permissions and levels ---

    // The presentation objects behind the forwards below, for views that bind to them directly.
    SourceAccess& sourceAccess() { return *m_sources; }
    CalendarBrowsing& calendarBrowsing() { return *m_calendar; }

    const std::map<AudioSourceID, float>& levels() const { return m_run->levels(); }
    // Oldest first, at most levelHistoryLength values per source.
    const std::map<AudioSourceID, std::vector<float>>& levelHistory() const { return m_run->levelHistory(); }
    // Sources of the current run, microphone first; empty when not running.
    const std::vector<AudioSourceID>& activeSources() const { return m_run->activeSources(); }

    // Speech recognition granted and at least one opted-in source granted (cached states only).
    bool canStart() const { return m_sources->canStart(); }
    void recordLevel(float level, AudioSourceID source) { m_run->recordLevel(level, source); }
    void clearNotices() { m_notices->clear(); }

    // --- History, calendar browsing and export ---

    const std::shared_ptr<CalendarSources>& calendarSources() const { return m_deps.calendarSources; }
    const std::optional<CalendarEvent>& browsingEvent() const { return m_calendar->browsingEvent(); }
    void setBrowsingEvent(std::optional<CalendarEvent> event) { m_calendar->setBrowsingEvent(std::move(event)); }
    const std::vector<TranscriptSession>& pastSessions() const { return m_autosave->pastSessions(); }

    // All lines of allSessions(), earliest first.
    std::vector<FinalizedLine> allLines() const;
    // Lines inside browsingEvent (bounds inclusive); empty when none is browsed.
    std::vector<FinalizedLine> browsingLines() const;
    bool hasLines(const CalendarEvent& event) const;
    // Clears the transcript, history (also on disk), browsing, reading position and question; keeps the notices
    // and the run.
    void clearAll();
    // The current session in the format, cue times counted from its start; nothing when it has no lines.
    std::optional<std::string> transcriptExport(TranscriptExportFormat format) const;
    // Writes transcriptExport(format) to the file atomically, so a failure leaves whatever was there; done, or the
    // reason in Japanese, with what to do next, when nothing was written.
    Expected<void, std::string> exportTranscript(const std::filesystem::path& file,
                                                 TranscriptExportFormat format) const;
    // "transcript-yyyyMMdd-HHmmss" and the format's extension, for now.
    std::string defaultExportFileName(TranscriptExportFormat format = TranscriptExportFormat::markdown) const;

    // --- History search ---

    // Searches every session, the current one too, on a worker; newest session first.
    HistorySearch& historySearch() { return *m_search; }
    // Browses the whole local day of the line and highlights it for a while as a citation would; false when the
    // line is no longer in the history.
    bool openHistorySearchResult(const Uuid& lineId);

    // --- Reading position and questions ---

    bool isFollowingLatest() const { return m_reading->isFollowingLatest(); }
    void setFollowingLatest(bool value) { m_reading->setFollowingLatest(value); }
    std::int64_t unreadCount() const { return m_reading->unreadCount(); }
    const std::optional<Uuid>& pendingScrollTarget() const { return m_reading->pendingScrollTarget(); }
    // The window sets none after scrolling.
    void setPendingScrollTarget(std::optional<Uuid> target) { m_reading->setPendingScrollTarget(std::move(target)); }
    const std::optional<Uuid>& highlightedLineID() const { return m_reading->highlightedLineID(); }
    // Highlights the line for a while and asks the window to scroll to it; stops following.
    void focusLine(const Uuid& id) { m_reading->focusLine(id); }
    // A line of the current session.
    std::optional<FinalizedLine> line(const Uuid& id) const;

    // The question being typed, the responder's availability and the last outcome.
    ConversationAsking& conversationAsking() { return *m_asking; }
    // Answers the next questions with this language model file (empty: the installed default) and re-reads what
    // the responder says about it. async.
    void useLanguageModel(const std::string& file, Done done = {});
    // Asks the responder about the current session's recent lines; ignored while asking or for a blank
    // question. async (done also runs when ignored).
    void askAboutConversation(Done done = {}) { m_asking->ask(m_finalizedLines, std::move(done)); }

signals:
    void finalizedLinesChanged();
    void volatileTextChanged();
    void noticesChanged();
    void isRunningChanged();
    void isPausedChanged();
    void runGenerationChanged();
    void currentSessionChanged();
    void liveCaptionContentChanged();
    void optInMicChanged();
    void optInSystemAudioChanged();
    void micStatusChanged();
    void speechStatusChanged();
    void systemAudioGrantedChanged();
    void levelsChanged();
    void levelHistoryChanged();
    void activeSourcesChanged();
    void browsingEventChanged();
    void pastSessionsChanged();
    void isFollowingLatestChanged();
    void unreadCountChanged();
    void pendingScrollTargetChanged();
    void highlightedLineIDChanged();
    // Every run stopped or replaced has ended, its events handled, and no restart is under way.
    void runSettled();
    // A write of the history file has ended: on the disk, or failed with its notice posted.
    void historySaveFinished();

private:
    Date now() const;
    void scheduleSave();
    void updateLiveCaption();
    void connectCollaborators();

    Dependencies m_deps;
    std::unique_ptr<QSettings> m_ownedSettings;
    std::shared_ptr<MainThreadHop> m_hop;

    std::vector<FinalizedLine> m_finalizedLines;
    std::string m_volatileText;
    LiveCaptionContent m_liveCaptionContent;
    Uuid m_currentSessionID;
    Date m_currentSessionStartedAt = 0;
    // When the latest run began: its line times count from there.
    Date m_runStartedAt = 0;
    // Non-blank finalized lines, for the caption's line ids.
    std::int64_t m_nonBlankLines = 0;
    bool m_captionShowsSpeaker = false;
    std::int64_t m_captionLineCount = LiveCaptionStyle::defaultStyle().maxLines;
    bool m_shutDown = false;

    std::unique_ptr<NoticeLog> m_notices;
    std::unique_ptr<SourceAccess> m_sources;
    std::unique_ptr<RunControl> m_run;
    std::unique_ptr<HistoryAutosave> m_autosave;
    std::unique_ptr<CalendarBrowsing> m_calendar;
    std::unique_ptr<ReadingPosition> m_reading;
    std::unique_ptr<ConversationAsking> m_asking;
    std::unique_ptr<HistorySearch> m_search;
};

} // namespace tc
