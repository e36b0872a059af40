#include "TranscriptionInfrastructure/history/IndexedHistorySearchEngine.h"

#include <utility>

namespace tc {

IndexedHistorySearchEngine::IndexedHistorySearchEngine(ResultHandler onResults)
    : m_worker(std::make_unique<HistorySearchWorker>(m_index, std::move(onResults)))
{}

IndexedHistorySearchEngine::~IndexedHistorySearchEngine()
{
    m_worker.reset();
}

HistorySearchEngine::Factory IndexedHistorySearchEngine::factory()
{
    return [](ResultHandler onResults) { return std::make_unique<IndexedHistorySearchEngine>(std::move(onResults)); };
}

void IndexedHistorySearchEngine::replaceAll(const std::vector<TranscriptSession>& sessions)
{
    m_index.replaceAll(sessions);
}

void IndexedHistorySearchEngine::appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line)
{
    m_index.appendLine(sessionId, sessionStartedAt, line);
}

std::uint64_t IndexedHistorySearchEngine::submit(std::string query)
{
    return m_worker->submit(std::move(query));
}

} // namespace tc
