#pragma once

#include "TranscriptionApplication/TranscriptHistory.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptSession.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class MainThreadHop;
class SerialWorker;

// The past sessions read from the history file, and the debounced writes of the current session in front of
// them on a worker. Saves wait until the history has been read, so an early save cannot overwrite it.
// Main thread only.
class HistoryAutosave : public QObject {
    Q_OBJECT
public:
    // The current session with the given end time; nothing when it has no lines. Read when a save is written.
    using CurrentSession = std::function<std::optional<TranscriptSession>(std::optional<Date> endedAt)>;
    // Gets a failed save's message, on the main thread.
    using FailureReporter = std::function<void(const std::string& message)>;

    HistoryAutosave(std::shared_ptr<TranscriptHistory> store, std::shared_ptr<MainThreadHop> hop,
                    std::chrono::milliseconds saveDelay, CurrentSession currentSession, FailureReporter reportFailure);
    // Writes what is queued, then joins the worker.
    ~HistoryAutosave() override;

    const std::vector<TranscriptSession>& pastSessions() const { return *m_pastSessions; }
    bool isLoaded() const { return m_loaded; }
    // Reads the history on the worker, then calls done on the main thread.
    void load(std::function<void()> done);
    // Restarts the quiet time; the write then takes the current session as it is at that moment.
    void schedule(std::optional<Date> endedAt);
    // Forgets the past sessions and pending writes and empties the file.
    void clear();
    // For quitting: writes now (when there is anything to write) and waits for every write to finish. Later
    // calls do nothing.
    void finish(bool hasCurrentLines, Date endedAt);
    // After finish(): why its write failed (Japanese); nothing when it succeeded or had nothing to write.
    const std::optional<std::string>& finalSaveError() const { return *m_finalSaveError; }

signals:
    void pastSessionsChanged();
    // A write has ended: on the disk, or failed and reported. Emitted on the main thread.
    void saveFinished();

private:
    void setPastSessions(std::vector<TranscriptSession> sessions);
    void writePending();
    // failure, when given, receives the save's error message (read it after the worker is joined).
    void enqueue(std::optional<Date> endedAt, std::shared_ptr<std::optional<std::string>> failure = nullptr);

    std::shared_ptr<TranscriptHistory> m_store;
    std::shared_ptr<MainThreadHop> m_hop;
    CurrentSession m_currentSession;
    FailureReporter m_reportFailure;
    std::unique_ptr<SerialWorker> m_worker;
    std::shared_ptr<std::optional<std::string>> m_finalSaveError = std::make_shared<std::optional<std::string>>();
    QTimer m_timer;
    // Shared with pending saves, so that writing a long history copies nothing on the main thread.
    std::shared_ptr<const std::vector<TranscriptSession>> m_pastSessions;
    bool m_loaded = false;
    bool m_pending = false;
    bool m_finished = false;
    // The current session's end time as it was when the pending save was scheduled.
    std::optional<Date> m_pendingEndedAt;
};

} // namespace tc
