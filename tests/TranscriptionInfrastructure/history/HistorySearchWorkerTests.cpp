#include "TranscriptionInfrastructure/history/HistorySearchWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

using namespace tc;

namespace {

struct Delivered {
    std::uint64_t generation = 0;
    std::size_t matchedLines = 0;
};

// Collects what the worker hands back, on the worker's thread.
class Collector {
public:
    HistorySearchWorker::ResultHandler handler()
    {
        return [this](std::uint64_t generation, const HistorySearchResults& results) {
            std::lock_guard lock(m_mutex);
            m_delivered.push_back({generation, results.matchedLines});
            m_changed.notify_all();
        };
    }
    // Waits for the results of this generation; the bound only keeps a broken worker from hanging the test.
    std::vector<Delivered> waitFor(std::uint64_t generation)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(60),
                           [&] { return !m_delivered.empty() && m_delivered.back().generation == generation; });
        return m_delivered;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivered> m_delivered;
};

void fill(HistorySearchIndex& index)
{
    std::vector<TranscriptSession> sessions;
    for (int s = 0; s < 20; ++s) {
        TranscriptSession session{Uuid::random(), {}, static_cast<Date>(s), std::nullopt};
        for (int l = 0; l < 500; ++l)
            session.lines.push_back({Uuid::random(), "第" + std::to_string(l) + "項：予算の確認とスケジュール", 0});
        sessions.push_back(std::move(session));
    }
    index.replaceAll(sessions);
}

} // namespace

TEST(HistorySearchWorker, DeliversTheNewestQueryAndNothingOlderAfterIt)
{
    HistorySearchIndex index;
    fill(index);
    Collector collector;
    HistorySearchWorker worker(index, collector.handler(), 100);

    const auto first = worker.submit("すけじゅーる");
    auto delivered = collector.waitFor(first);
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back().generation, first);
    EXPECT_EQ(delivered.back().matchedLines, 10000u);

    // Typing fast: each keystroke overtakes the one before.
    std::uint64_t last = 0;
    const std::vector<std::string> keystrokes{"予", "予算", "予算の", "予算の確", "第12項", "第123項"};
    for (const auto& query : keystrokes)
        last = worker.submit(query);
    EXPECT_EQ(last, first + keystrokes.size());
    delivered = collector.waitFor(last);
    ASSERT_EQ(delivered.back().generation, last);
    EXPECT_EQ(delivered.back().matchedLines, 20u);
    for (std::size_t i = 1; i < delivered.size(); ++i)
        EXPECT_LT(delivered[i - 1].generation, delivered[i].generation);
    EXPECT_LE(delivered.size(), 1 + keystrokes.size());
}

TEST(HistorySearchWorker, StopsWithAQueryStillWaiting)
{
    HistorySearchIndex index;
    fill(index);
    Collector collector;
    {
        HistorySearchWorker worker(index, collector.handler());
        for (int i = 0; i < 50; ++i)
            worker.submit("確認" + std::to_string(i));
    }
    SUCCEED();
}
