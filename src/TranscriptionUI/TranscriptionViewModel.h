#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/CalendarAuthorizationStatus.h"
#include "TranscriptionApplication/CalendarProvider.h"
#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionApplication/HistorySearchEngine.h"
#include "TranscriptionApplication/OutputEvent.h"
#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionApplication/TranscriptHistory.h"
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
#include "TranscriptionUI/presentation/SessionTranscript.h"
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

// The presentation model behind the main window: it owns the presentation objects the views bind to (the
// session's transcript, notices, run control, sources and permissions, autosave, calendar browsing, reading
// position, questions and search), wires them together, and does what takes several of them: start-up, the
// runner's events, the caption, export, clearing and opening search results. Lives on the main thread and is
// touched only there.
// Blocking port calls (permissions, calendar, responder, history file, the run itself) happen on background
// threads; their results come back through queued calls, so an operation marked "async" returns at once and
// calls its optional `done` on the main thread when finished (never after the model is destroyed).
class TranscriptionViewModel : public QObject {
    Q_OBJECT

public:
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

    // Everything the model talks to; wired once by the application (ApplicationWiring) or by a test. All
    // ports and the two factories are required.
    struct Dependencies {
        std::shared_ptr<PermissionManager> permissions;
        std::shared_ptr<CalendarProvider> calendar;
        // The sources behind `calendar`, for the settings to list and change; may be null.
        std::shared_ptr<CalendarSources> calendarSources;
        std::shared_ptr<ConversationResponder> responder;
        std::shared_ptr<TranscriptHistory> store;
        // Makes the engine behind the history search.
        HistorySearchEngine::Factory makeSearchEngine;
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

    // Touches no file, asks for no permission, starts nothing. Throws std::invalid_argument when a port is missing.
    explicit TranscriptionViewModel(Dependencies dependencies, QObject* parent = nullptr);
    // Stops the run and writes the current session like shutdown().
    ~TranscriptionViewModel() override;

    // --- The presentation objects, for the views that bind to them ---

    SessionTranscript& sessionTranscript() { return *m_transcript; }
    NoticeLog& noticeLog() { return *m_notices; }
    RunControl& runControl() { return *m_run; }
    SourceAccess& sourceAccess() { return *m_sources; }
    // The past sessions, and their writes.
    HistoryAutosave& historyAutosave() { return *m_autosave; }
    CalendarBrowsing& calendarBrowsing() { return *m_calendar; }
    ReadingPosition& readingPosition() { return *m_reading; }
    // The question being typed, the responder's availability and the last outcome.
    ConversationAsking& conversationAsking() { return *m_asking; }
    // Searches every session, the current one too, on a worker; newest session first.
    HistorySearch& historySearch() { return *m_search; }

    // --- Running ---

    // Start-up, once when the window is first shown: load history, refresh permissions, read the question
    // feature's availability, then start transcription. The calendar's status and the day's events are read
    // alongside: a slow calendar never holds up the start, only `done`, which follows both. async.
    void bootstrap(Done done = {});
    // Starts a run unless running, shut down or the sources cannot start; clears the notices.
    void startTranscription();
    // The window became active: re-reads the permissions, then starts a run unless running or paused. async.
    void sceneDidBecomeActive(Done done = {});
    // Applies one event of the runner (or a degradation notice).
    void handle(const OutputEvent& event);
    // For the application's aboutToQuit: stops the run and writes the current session with its end time,
    // waiting for the write (historyAutosave().finalSaveError() tells how it went). Safe to call more than once.
    void shutdown();

    // --- Caption ---

    // The caption panel's lines; changes are signalled by liveCaptionContentChanged.
    const LiveCaptionContent& liveCaptionContent() const { return m_liveCaptionContent; }
    // Whether caption lines begin with their speaker's tag ("[自分] "); off until the window turns it on.
    void setCaptionShowsSpeaker(bool value);
    // How many lines the caption holds; the caption style's maxLines until the window passes the chosen number.
    void setCaptionLineCount(std::int64_t count);

    // --- History, calendar browsing and export ---

    // The current session (when it has lines) followed by the past sessions; recompute on the transcript's
    // linesChanged, the history's pastSessionsChanged and the run's isRunningChanged.
    std::vector<TranscriptSession> allSessions() const;
    // All lines of allSessions(), earliest first.
    std::vector<FinalizedLine> allLines() const;
    // Lines inside the browsed event (bounds inclusive); empty when none is browsed.
    std::vector<FinalizedLine> browsingLines() const;
    bool hasLines(const CalendarEvent& event) const;
    const std::shared_ptr<CalendarSources>& calendarSources() const { return m_deps.calendarSources; }
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
    // Browses the whole local day of the line and highlights it for a while as a citation would; false when the
    // line is no longer in the history.
    bool openHistorySearchResult(const Uuid& lineId);

    // --- Questions ---

    // Answers the next questions with this language model file (empty: the installed default) and re-reads what
    // the responder says about it. async.
    void useLanguageModel(const std::string& file, Done done = {});
    // Asks the responder about the current session's recent lines; ignored while asking or for a blank
    // question. async (done also runs when ignored).
    void askAboutConversation(Done done = {});

signals:
    void liveCaptionContentChanged();

private:
    // The current session: no end time while running, now otherwise.
    TranscriptSession currentSessionSnapshot() const;
    Date now() const;
    void scheduleSave();
    void updateLiveCaption();
    void connectCollaborators();

    Dependencies m_deps;
    std::unique_ptr<QSettings> m_ownedSettings;
    std::shared_ptr<MainThreadHop> m_hop;

    LiveCaptionContent m_liveCaptionContent;
    // When the latest run began: its line times count from there.
    Date m_runStartedAt = 0;
    // Non-blank finalized lines, for the caption's line ids.
    std::int64_t m_nonBlankLines = 0;
    bool m_captionShowsSpeaker = false;
    std::int64_t m_captionLineCount = LiveCaptionStyle::defaultStyle().maxLines;
    bool m_shutDown = false;

    std::unique_ptr<SessionTranscript> m_transcript;
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
