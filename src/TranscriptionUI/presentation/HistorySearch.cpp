#include "TranscriptionUI/presentation/HistorySearch.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionInfrastructure/history/HistorySearchWorker.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"

#include <QPointer>

#include <utility>

namespace tc {

HistorySearch::HistorySearch(std::shared_ptr<MainThreadHop> hop) : m_hop(std::move(hop))
{
    QPointer<HistorySearch> self(this);
    m_worker = std::make_unique<HistorySearchWorker>(
        m_index, [hop = m_hop, self, latest = m_latest](std::uint64_t generation, const HistorySearchResults& results) {
            hop->post([self, latest, generation, results] {
                // The worker's generations only grow, so anything but the newest was overtaken.
                if (!self || generation != *latest) return;
                self->setResults(results);
            });
        });
}

HistorySearch::~HistorySearch()
{
    close();
}

void HistorySearch::close()
{
    m_worker.reset();
}

void HistorySearch::setQuery(std::string query)
{
    if (query == m_query) return;
    m_query = std::move(query);
    Q_EMIT queryChanged();
    submit();
}

void HistorySearch::replaceAll(const std::vector<TranscriptSession>& sessions)
{
    m_index.replaceAll(sessions);
    submit();
}

void HistorySearch::appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line)
{
    m_index.appendLine(sessionId, sessionStartedAt, line);
    submit();
}

void HistorySearch::submit()
{
    if (isBlankText(m_query)) {
        // Answers still on their way for an earlier query must not bring results back.
        ++*m_latest;
        setResults({});
        return;
    }
    if (!m_worker) return;
    *m_latest = m_worker->submit(m_query);
}

void HistorySearch::setResults(HistorySearchResults results)
{
    if (results.sessions.empty() && m_results.sessions.empty() && results.matchedLines == m_results.matchedLines)
        return;
    m_results = std::move(results);
    Q_EMIT resultsChanged();
}

} // namespace tc
