#include "TranscriptionUI/presentation/HistorySearch.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"

#include <QPointer>

#include <utility>

namespace tc {

namespace {

// Same lines and marks: a line arriving that does not match leaves the shown list (and where it is scrolled) alone.
bool sameHits(const HistorySearchResults& a, const HistorySearchResults& b)
{
    if (a.matchedLines != b.matchedLines || a.truncated != b.truncated || a.sessions.size() != b.sessions.size())
        return false;
    for (std::size_t s = 0; s < a.sessions.size(); ++s) {
        const auto& x = a.sessions[s];
        const auto& y = b.sessions[s];
        if (!(x.sessionId == y.sessionId) || x.startedAt != y.startedAt || x.lines.size() != y.lines.size())
            return false;
        for (std::size_t l = 0; l < x.lines.size(); ++l) {
            const auto& p = x.lines[l];
            const auto& q = y.lines[l];
            if (!(p.lineId == q.lineId) || p.text != q.text || p.time != q.time || p.ranges != q.ranges) return false;
        }
    }
    return true;
}

} // namespace

HistorySearch::HistorySearch(const HistorySearchEngine::Factory& makeEngine, std::shared_ptr<MainThreadHop> hop)
    : m_hop(std::move(hop))
{
    QPointer<HistorySearch> self(this);
    m_engine = makeEngine(
        [hop = m_hop, self, latest = m_latest](std::uint64_t generation, const HistorySearchResults& results) {
            hop->post([self, latest, generation, results] {
                // The engine's generations only grow, so anything but the newest was overtaken.
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
    m_engine.reset();
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
    if (m_engine) m_engine->replaceAll(sessions);
    submit();
}

void HistorySearch::appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line)
{
    if (m_engine) m_engine->appendLine(sessionId, sessionStartedAt, line);
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
    if (!m_engine) return;
    *m_latest = m_engine->submit(m_query);
}

void HistorySearch::setResults(HistorySearchResults results)
{
    // The same hits for another query still count: the view learns that the new query was answered.
    if (sameHits(results, m_results) && m_resultsQuery == m_query) return;
    m_results = std::move(results);
    m_resultsQuery = m_query;
    Q_EMIT resultsChanged();
}

} // namespace tc
