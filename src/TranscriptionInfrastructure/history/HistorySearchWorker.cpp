#include "TranscriptionInfrastructure/history/HistorySearchWorker.h"

#include <utility>

namespace tc {

HistorySearchWorker::HistorySearchWorker(const HistorySearchIndex& index, ResultHandler onResults, std::size_t limit)
    : m_index(index), m_onResults(std::move(onResults)), m_limit(limit),
      m_thread([this](std::stop_token stop) { run(stop); })
{}

HistorySearchWorker::~HistorySearchWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_current.request_stop();
    }
    m_thread.request_stop();
    m_thread.join();
}

std::uint64_t HistorySearchWorker::submit(std::string query)
{
    std::lock_guard lock(m_mutex);
    m_pending = std::move(query);
    m_current.request_stop();
    m_wake.notify_one();
    return ++m_generation;
}

void HistorySearchWorker::run(std::stop_token stop)
{
    while (true) {
        std::string query;
        std::uint64_t generation = 0;
        std::stop_source current;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return m_pending.has_value(); }) || stop.stop_requested()) return;
            query = std::move(*m_pending);
            m_pending.reset();
            generation = m_generation;
            m_current = std::stop_source();
            current = m_current;
        }
        const auto results = m_index.search(query, current.get_token(), m_limit);
        if (!results || stop.stop_requested()) continue;
        {
            // A newer query arrived while this one finished: its results would only flash by.
            std::lock_guard lock(m_mutex);
            if (m_pending) continue;
        }
        m_onResults(generation, *results);
    }
}

} // namespace tc
