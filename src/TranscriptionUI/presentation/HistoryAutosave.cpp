#include "TranscriptionUI/presentation/HistoryAutosave.h"

#include "TranscriptionUI/presentation/ObservedValue.h"

namespace tc {

HistoryAutosave::HistoryAutosave(std::shared_ptr<TranscriptHistory> store, std::shared_ptr<MainThreadHop> hop,
                                 std::chrono::milliseconds saveDelay, CurrentSession currentSession,
                                 FailureReporter reportFailure)
    : m_store(std::move(store)), m_hop(std::move(hop)), m_currentSession(std::move(currentSession)),
      m_reportFailure(std::move(reportFailure)), m_worker(std::make_unique<SerialWorker>()),
      m_pastSessions(std::make_shared<const std::vector<TranscriptSession>>())
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(saveDelay);
    connect(&m_timer, &QTimer::timeout, this, &HistoryAutosave::writePending);
}

HistoryAutosave::~HistoryAutosave()
{
    m_timer.stop();
    m_worker.reset();
}

void HistoryAutosave::load(std::function<void()> done)
{
    runOffMain<std::vector<TranscriptSession>>(
        *m_worker, m_hop, [store = m_store](std::stop_token) { return store->load(); },
        [this, done = std::move(done)](std::vector<TranscriptSession> sessions) {
            setPastSessions(std::move(sessions));
            m_loaded = true;
            if (m_pending) m_timer.start();
            if (done) done();
        });
}

void HistoryAutosave::setPastSessions(std::vector<TranscriptSession> sessions)
{
    if (sessions == *m_pastSessions) return;
    m_pastSessions = std::make_shared<const std::vector<TranscriptSession>>(std::move(sessions));
    Q_EMIT pastSessionsChanged();
}

// The list is taken when the timer fires: every change of the lines reschedules, and the end time is the one of
// this moment, so the written list is the one of the last scheduling without copying it each time.
void HistoryAutosave::schedule(std::optional<Date> endedAt)
{
    if (m_finished) return;
    m_pending = true;
    m_pendingEndedAt = endedAt;
    m_timer.start();
}

void HistoryAutosave::writePending()
{
    // Until the history is read the list would lack the past sessions; the save is scheduled again then.
    if (!m_pending || !m_loaded) return;
    m_pending = false;
    enqueue(m_pendingEndedAt);
}

void HistoryAutosave::enqueue(std::optional<Date> endedAt, std::shared_ptr<std::optional<std::string>> failure)
{
    auto current = m_currentSession(endedAt);
    m_worker->post([store = m_store, hop = m_hop, this, current = std::move(current), past = m_pastSessions,
                    failure = std::move(failure)](std::stop_token) {
        std::vector<TranscriptSession> sessions;
        sessions.reserve(past->size() + 1);
        if (current) sessions.push_back(*current);
        sessions.insert(sessions.end(), past->begin(), past->end());
        // A history that silently stops being written would lose the user's lines without a word.
        std::optional<std::string> message;
        if (auto saved = store->save(sessions); !saved) message = std::move(saved.error().message);
        if (failure) *failure = message;
        hop->post([this, message = std::move(message)] {
            if (message) m_reportFailure(*message);
            Q_EMIT saveFinished();
        });
    });
}

void HistoryAutosave::clear()
{
    m_timer.stop();
    m_pending = false;
    setPastSessions({});
    m_worker->post([store = m_store](std::stop_token) { store->clear(); });
}

void HistoryAutosave::finish(bool hasCurrentLines, Date endedAt)
{
    if (m_finished) return;
    m_finished = true;
    // The last lines of the session would otherwise be lost with the pending debounced save.
    const bool pending = m_pending;
    m_timer.stop();
    m_pending = false;
    if (m_loaded && (pending || hasCurrentLines)) enqueue(endedAt, m_finalSaveError);
    m_worker->drainAndJoin();
}

} // namespace tc
