#pragma once

#include "TranscriptionInfrastructure/history/HistorySearchIndex.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace tc {

// Runs history searches on its own thread, newest query only: a query submitted while another runs stops that one,
// and queries that were overtaken before they started are never run. Thread-safe; submit() never blocks on a search.
class HistorySearchWorker {
public:
    // Called on the worker thread with the query's generation and its results; hop to the UI thread from there.
    using ResultHandler = std::function<void(std::uint64_t generation, const HistorySearchResults& results)>;

    // The index must outlive the worker. Starts the thread.
    HistorySearchWorker(const HistorySearchIndex& index, ResultHandler onResults,
                        std::size_t limit = HistorySearchIndex::kDefaultResultLimit);
    // Stops the running search and joins the thread; no handler call starts afterwards.
    ~HistorySearchWorker();
    HistorySearchWorker(const HistorySearchWorker&) = delete;
    HistorySearchWorker& operator=(const HistorySearchWorker&) = delete;

    // Any thread: searches for query instead of whatever was asked before; returns its generation, which increases
    // with each call, so a caller can drop results that arrive for an older one.
    std::uint64_t submit(std::string query);

private:
    void run(std::stop_token stop);

    const HistorySearchIndex& m_index;
    const ResultHandler m_onResults;
    const std::size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::optional<std::string> m_pending;
    std::uint64_t m_generation = 0;
    // Stops the search now running when a newer query comes.
    std::stop_source m_current;
    // Last member: started after the state above exists and joined before it goes.
    std::jthread m_thread;
};

} // namespace tc
