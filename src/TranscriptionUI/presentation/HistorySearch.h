#pragma once

#include "TranscriptionApplication/HistorySearchEngine.h"
#include "TranscriptionApplication/HistorySearchResults.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tc {

class MainThreadHop;

// The history search of the window: an engine kept in step with the sessions, which searches on its own thread
// so that typing never waits for a scan. Results of a query that was overtaken meanwhile are dropped. Main thread
// only.
class HistorySearch : public QObject {
    Q_OBJECT
public:
    // Makes its engine with the factory at once.
    HistorySearch(const HistorySearchEngine::Factory& makeEngine, std::shared_ptr<MainThreadHop> hop);
    ~HistorySearch() override;

    const std::string& query() const { return m_query; }
    // Searches for the query; a blank one empties the results at once.
    void setQuery(std::string query);
    // The results of the newest query that has finished; empty for a blank query.
    const HistorySearchResults& results() const { return m_results; }

    // The engine takes these sessions instead of what it held (history loaded or cleared); the query runs again.
    void replaceAll(const std::vector<TranscriptSession>& sessions);
    // A finalized line of a session; the query runs again so the line can show up.
    void appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line);
    // Stops the engine; later queries are ignored.
    void close();

signals:
    void queryChanged();
    void resultsChanged();

private:
    void submit();
    void setResults(HistorySearchResults results);

    std::shared_ptr<MainThreadHop> m_hop;
    std::string m_query;
    HistorySearchResults m_results;
    // The query m_results answer.
    std::string m_resultsQuery;
    // Generation of the query last submitted; older answers are stale.
    std::shared_ptr<std::uint64_t> m_latest = std::make_shared<std::uint64_t>(0);
    std::unique_ptr<HistorySearchEngine> m_engine;
};

} // namespace tc
