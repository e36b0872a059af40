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
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/LiveCaptionContent.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"
#include "TranscriptionInfrastructure/PermissionManager.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace tc {

class MainThreadHop;
class SerialWorker;
class TranscriptHistoryStore;

// What the window shows for one audio source.
struct SourceAccessState {
    enum class Kind { granted, undetermined, denied, restricted };

    Kind kind = Kind::undetermined;
    // Only meaningful for granted: the source's opt-in flag.
    bool enabled = false;

    static SourceAccessState granted(bool enabled) { return {Kind::granted, enabled}; }
    static SourceAccessState undetermined() { return {Kind::undetermined, false}; }
    static SourceAccessState denied() { return {Kind::denied, false}; }
    static SourceAccessState restricted() { return {Kind::restricted, false}; }

    friend bool operator==(const SourceAccessState&, const SourceAccessState&) = default;
};

// The one observable object behind the main window: run control, transcript, sources and levels, history and
// calendar browsing, export, reading position and questions. Lives on the main thread and is touched only
// there; every field has a getter and a change signal that fires only when the stored value really changes.
// Blocking port calls (permissions, calendar, responder, history file, the run itself) happen on background
// threads; their results come back through queued calls, so an operation marked "async" returns at once and
// calls its optional `done` on the main thread when finished (never after the model is destroyed).
class TranscriptionViewModel : public QObject {
    Q_OBJECT

public:
    using Status = PermissionManager::Status;

    // The audio source and transcriber of one run.
    struct LivePipeline {
        std::shared_ptr<AudioSource> audioSource;
        std::shared_ptr<Transcriber> transcriber;
    };
    // Called from any thread.
    using DegradedCallback = std::function<void(const std::string& notice)>;
    using LevelCallback = std::function<void(AudioSourceID source, float level)>;
    // Builds a run's pipeline for the usable sources; called on the run's thread. May throw.
    using PipelineFactory =
        std::function<LivePipeline(bool microphone, bool systemAudio, DegradedCallback, LevelCallback)>;
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
        std::shared_ptr<ConversationResponder> responder;
        std::shared_ptr<TranscriptHistoryStore> store;
        // Holds "optInMic", "optInSystemAudio", "systemAudioRequested"; not owned. Null: the application's
        // default QSettings.
        QSettings* settings = nullptr;
        PipelineFactory makePipeline;
        // Empty: the wall clock.
        Clock now;
        Timings timings;
    };

    // The application's adapters: permission manager, composition-root calendar, responder and live pipeline
    // (default EngineConfig: ja-JP), the history store in the user's data directory, default settings.
    static Dependencies defaultDependencies();

    static constexpr std::int64_t askMaxLines = 80;
    static constexpr std::int64_t levelHistoryLength = 60;

    // Touches no file, asks for no permission, starts nothing. Throws std::invalid_argument when a port is missing.
    explicit TranscriptionViewModel(Dependencies dependencies, QObject* parent = nullptr);
    // Stops the run and writes the current session like shutdown().
    ~TranscriptionViewModel() override;

    // --- Run control and transcript ---

    // Start-up, once when the window is first shown: load history, refresh permissions, read the calendar
    // status and the day's events, read the question feature's availability, then start transcription. async.
    void bootstrap(Done done = {});
    // Starts a run unless running or canStart() is false; clears the notices.
    void startTranscription();
    // Stops the run and marks the model paused; the transcript stays.
    void pauseTranscription();
    // The window's "再開": clears isPaused, then startTranscription().
    void resumeTranscription();
    // The window became active: re-reads the permissions, then starts a run unless running or paused. async.
    void sceneDidBecomeActive(Done done = {});
    // Stops the current run and starts a new one. async.
    void restartTranscription(Done done = {});
    // Applies one event of the runner (or a degradation notice).
    void handle(const OutputEvent& event);
    // For the application's aboutToQuit: stops the run and writes the current session with its end time,
    // waiting for the write. Safe to call more than once.
    void shutdown();
    // After shutdown(): why its write failed (Japanese), so the lines can still be saved elsewhere; nothing when
    // it succeeded or had nothing to write.
    const std::optional<std::string>& finalSaveError() const { return *m_finalSaveError; }

    const std::vector<FinalizedLine>& finalizedLines() const { return m_finalizedLines; }
    const std::string& volatileText() const { return m_volatileText; }
    const std::vector<std::string>& notices() const { return m_notices; }
    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }
    std::int64_t runGeneration() const { return m_runGeneration; }
    const Uuid& currentSessionID() const { return m_currentSessionID; }
    Date currentSessionStartedAt() const { return m_currentSessionStartedAt; }
    // The caption panel's lines; changes are signalled by liveCaptionContentChanged.
    const LiveCaptionContent& liveCaptionContent() const { return m_liveCaptionContent; }
    // The current session (when it has lines) followed by the past sessions; recompute on
    // finalizedLinesChanged / pastSessionsChanged / isRunningChanged.
    std::vector<TranscriptSession> allSessions() const;
    // The current session: no end time while running, now otherwise.
    TranscriptSession currentSessionSnapshot() const;

    // --- Sources, permissions and levels ---

    bool optInMic() const { return m_optInMic; }
    // Persists and reconciles (may start, or restart, a run) even when the value is unchanged.
    void setOptInMic(bool value);
    bool optInSystemAudio() const { return m_optInSystemAudio; }
    void setOptInSystemAudio(bool value);
    bool systemAudioRequested() const { return m_systemAudioRequested; }
    void setSystemAudioRequested(bool value);
    Status micStatus() const { return m_micStatus; }
    Status speechStatus() const { return m_speechStatus; }
    bool systemAudioGranted() const { return m_systemAudioGranted; }
    const std::map<AudioSourceID, float>& levels() const { return m_levels; }
    // Oldest first, at most levelHistoryLength values per source.
    const std::map<AudioSourceID, std::vector<float>>& levelHistory() const { return m_levelHistory; }
    // Sources of the current run, microphone first; empty when not running.
    const std::vector<AudioSourceID>& activeSources() const { return m_activeSources; }

    // Speech recognition granted and at least one opted-in source granted (cached states only).
    bool canStart() const;
    SourceAccessState accessState(AudioSourceID source) const;
    // Asks for the microphone (and speech recognition if undetermined), then opts in when granted. async.
    void requestMicrophoneAccess(Done done = {});
    // Asks for system audio (and speech recognition if undetermined), then opts in whatever the outcome. async.
    void requestSystemAudioAccess(Done done = {});
    // Re-reads the three permissions; starts nothing. async.
    void refreshPermissions(Done done = {});
    // The settings button of a denied source. This platform has no settings pane for it, so the button
    // repeats the in-app request for that source (the consent record is what the permission reads).
    void openPrivacySettings(AudioSourceID source, Done done = {});
    void recordLevel(float level, AudioSourceID source);
    void clearNotices();

    // --- History, calendar browsing and export ---

    CalendarAuthorizationStatus calendarStatus() const { return m_calendarStatus; }
    // Always the start of a local day.
    Date sidebarDate() const { return m_sidebarDate; }
    const std::vector<CalendarEvent>& dayEvents() const { return m_dayEvents; }
    const std::optional<CalendarEvent>& browsingEvent() const { return m_browsingEvent; }
    void setBrowsingEvent(std::optional<CalendarEvent> event);
    const std::vector<TranscriptSession>& pastSessions() const { return *m_pastSessions; }

    // All lines of allSessions(), earliest first.
    std::vector<FinalizedLine> allLines() const;
    // Lines inside browsingEvent (bounds inclusive); empty when none is browsed.
    std::vector<FinalizedLine> browsingLines() const;
    bool hasLines(const CalendarEvent& event) const;
    // Moves the sidebar by calendar days and reloads its events. async.
    void moveSidebarDay(int days, Done done = {});
    // Fills dayEvents for sidebarDate (empty unless the calendar is granted). async.
    void loadDayEvents(Done done = {});
    // Asks for calendar access, re-reads the status and reloads the events. async.
    void requestCalendarAccess(Done done = {});
    // The sidebar's "カレンダーへのアクセスを許可": repeats the in-app calendar request, as above. async.
    void openCalendarPrivacySettings(Done done = {});
    // Clears the transcript, history (also on disk), browsing, reading position and question; keeps the notices
    // and the run.
    void clearAll();
    // The current session as Markdown; nothing when it has no lines.
    std::optional<std::string> markdownExport() const;
    // "transcript-yyyyMMdd-HHmmss.md" for now.
    std::string defaultExportFileName() const;

    // --- Reading position and questions ---

    bool isFollowingLatest() const { return m_isFollowingLatest; }
    void setFollowingLatest(bool value);
    std::int64_t unreadCount() const { return m_unreadCount; }
    const std::optional<Uuid>& pendingScrollTarget() const { return m_pendingScrollTarget; }
    // The window sets none after scrolling.
    void setPendingScrollTarget(std::optional<Uuid> target);
    const std::optional<Uuid>& highlightedLineID() const { return m_highlightedLineID; }
    // Highlights the line for a while and asks the window to scroll to it; stops following.
    void focusLine(const Uuid& id);
    // A line of the current session.
    std::optional<FinalizedLine> line(const Uuid& id) const;

    bool conversationAvailable() const { return m_conversationAvailable; }
    const std::optional<std::string>& conversationUnavailableReason() const { return m_conversationUnavailableReason; }
    // What the responder says about its answers (quotations, or the model loading); empty when nothing.
    const std::string& conversationNote() const { return m_conversationNote; }
    // Reads the responder's availability. async.
    void refreshConversationAvailability(Done done = {});
    const std::string& askQuestion() const { return m_askQuestion; }
    void setAskQuestion(const std::string& question);
    const std::optional<ConversationAnswer>& askAnswer() const { return m_askAnswer; }
    bool isAsking() const { return m_isAsking; }
    const std::optional<std::string>& askError() const { return m_askError; }
    // Asks the responder about the current session's recent lines; ignored while asking or for a blank
    // question. async (done also runs when ignored).
    void askAboutConversation(Done done = {});

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
    void systemAudioRequestedChanged();
    void micStatusChanged();
    void speechStatusChanged();
    void systemAudioGrantedChanged();
    void levelsChanged();
    void levelHistoryChanged();
    void activeSourcesChanged();
    void calendarStatusChanged();
    void sidebarDateChanged();
    void dayEventsChanged();
    void browsingEventChanged();
    void pastSessionsChanged();
    void isFollowingLatestChanged();
    void unreadCountChanged();
    void pendingScrollTargetChanged();
    void highlightedLineIDChanged();
    void conversationAvailableChanged();
    void conversationUnavailableReasonChanged();
    void conversationNoteChanged();
    void askQuestionChanged();
    void askAnswerChanged();
    void isAskingChanged();
    void askErrorChanged();

private:
    struct Run;

    Date now() const;
    void runSession(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio, std::stop_token stop);
    void beginRun(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio);
    void finishRun(std::int64_t generation);
    void stopSession();
    void stopRun(const std::shared_ptr<Run>& run);
    void joinRun(std::int64_t generation);
    void scheduleSave();
    void writePendingSave();
    // failure, when given, receives the save's error message (read it after the store worker is joined).
    void enqueueSave(std::optional<Date> endedAt, std::shared_ptr<std::optional<std::string>> failure = nullptr);
    void setPastSessions(std::vector<TranscriptSession> sessions);
    void sourcesDidChange();
    void postSpeechPermissionNotice();
    void resetRunFields();
    void appendNotice(std::string notice);
    // Takes the responder's current note (cheap read on the main thread).
    void rereadConversationNote();
    void updateLiveCaption();
    void afterPermissions(Done then);

    template <class T, class Work, class Then>
    void offMain(SerialWorker& worker, Work work, Then then);

    template <class T>
    bool assign(T& field, T value, void (TranscriptionViewModel::*signal)());

    Dependencies m_deps;
    std::unique_ptr<QSettings> m_ownedSettings;
    QSettings* m_settings = nullptr;
    std::shared_ptr<MainThreadHop> m_hop;
    std::unique_ptr<SerialWorker> m_storeWorker;
    std::shared_ptr<std::optional<std::string>> m_finalSaveError = std::make_shared<std::optional<std::string>>();
    std::unique_ptr<SerialWorker> m_portWorker;
    std::unique_ptr<SerialWorker> m_calendarWorker;
    std::unique_ptr<SerialWorker> m_askWorker;
    std::unique_ptr<SerialWorker> m_stopWorker;

    std::vector<FinalizedLine> m_finalizedLines;
    std::string m_volatileText;
    std::vector<std::string> m_notices;
    bool m_isRunning = false;
    bool m_isPaused = false;
    bool m_optInMic = false;
    bool m_optInSystemAudio = false;
    Status m_micStatus = Status::undetermined;
    Status m_speechStatus = Status::undetermined;
    bool m_systemAudioGranted = false;
    bool m_systemAudioRequested = false;
    std::map<AudioSourceID, float> m_levels;
    std::map<AudioSourceID, std::vector<float>> m_levelHistory;
    std::vector<AudioSourceID> m_activeSources;
    CalendarAuthorizationStatus m_calendarStatus = CalendarAuthorizationStatus::undetermined;
    Date m_sidebarDate = 0;
    std::vector<CalendarEvent> m_dayEvents;
    std::optional<CalendarEvent> m_browsingEvent;
    // Shared with pending saves, so that writing a long history copies nothing on the main thread.
    std::shared_ptr<const std::vector<TranscriptSession>> m_pastSessions;
    bool m_isFollowingLatest = true;
    std::int64_t m_unreadCount = 0;
    std::optional<Uuid> m_pendingScrollTarget;
    std::optional<Uuid> m_highlightedLineID;
    bool m_conversationAvailable = false;
    std::optional<std::string> m_conversationUnavailableReason;
    std::string m_conversationNote;
    // While a question is answered, re-reads the note: the first question loads the model.
    QTimer m_askNoteTimer;
    std::string m_askQuestion;
    std::optional<ConversationAnswer> m_askAnswer;
    bool m_isAsking = false;
    std::optional<std::string> m_askError;
    LiveCaptionContent m_liveCaptionContent;

    std::vector<std::shared_ptr<Run>> m_runs;
    std::shared_ptr<Run> m_currentRun;
    std::int64_t m_runGeneration = 0;
    Uuid m_currentSessionID;
    Date m_currentSessionStartedAt = 0;
    QTimer m_saveTimer;
    QTimer m_availabilityTimer;
    bool m_savePending = false;
    // The current session's end time as it was when the pending save was scheduled.
    std::optional<Date> m_pendingEndedAt;
    // Non-blank finalized lines, for the caption's line ids.
    std::int64_t m_nonBlankLines = 0;
    // Saves wait until the history has been read, so an early save cannot overwrite it.
    bool m_historyLoaded = false;
    bool m_shutDown = false;
};

} // namespace tc
