#pragma once

#include "TranscriptionApplication/HistorySearchEngine.h"
#include "TranscriptionInfrastructure/history/HistorySearchIndex.h"
#include "TranscriptionInfrastructure/history/HistorySearchWorker.h"

#include <memory>

namespace tc {

// The history search engine on Linux: a HistorySearchIndex in memory, searched by a HistorySearchWorker.
// Thread-safe, as both are.
class IndexedHistorySearchEngine : public HistorySearchEngine {
public:
    // Starts the worker's thread.
    explicit IndexedHistorySearchEngine(ResultHandler onResults);
    // Joins the worker before the index goes.
    ~IndexedHistorySearchEngine() override;

    // A factory for the composition: one engine per call.
    static Factory factory();

    void replaceAll(const std::vector<TranscriptSession>& sessions) override;
    void appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line) override;
    std::uint64_t submit(std::string query) override;

private:
    HistorySearchIndex m_index;
    // After the index it reads, so it is joined before the index goes.
    std::unique_ptr<HistorySearchWorker> m_worker;
};

} // namespace tc
