#include "TranscriptionInfrastructure/history/HistorySearchWorker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace tc;

TEST(HistorySearchWorker, DeliversTheNewestQueryAndNothingOlderAfterItAndStopsWithQueriesWaiting)
{
    HistorySearchIndex index;
    std::vector<TranscriptSession> sessions(20);
    for (auto& session : sessions) {
        session.id = Uuid::random();
        for (int l = 0; l < 500; ++l)
            session.lines.push_back({Uuid::random(), "第" + std::to_string(l) + "項：予算の確認とスケジュール", 0});
    }
    index.replaceAll(sessions);

    // Each generation handed back on the worker's thread, with its count of matched lines.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::uint64_t, std::size_t>> delivered;
    const auto waitFor = [&](std::uint64_t generation) {
        std::unique_lock lock(mutex);
        // The bound only keeps a broken worker from hanging the test.
        changed.wait_for(lock, std::chrono::seconds(60),
                         [&] { return !delivered.empty() && delivered.back().first == generation; });
        return delivered;
    };
    auto worker = std::make_unique<HistorySearchWorker>(
        index,
        [&](std::uint64_t generation, const HistorySearchResults& results) {
            std::lock_guard lock(mutex);
            delivered.emplace_back(generation, results.matchedLines);
            changed.notify_all();
        },
        100);

    const auto first = worker->submit("すけじゅーる");
    EXPECT_EQ(waitFor(first).back(), std::pair(first, std::size_t{10000}));

    // Typing fast: each keystroke overtakes the one before.
    std::uint64_t last = 0;
    const std::vector<std::string> keystrokes{"予", "予算", "予算の", "予算の確", "第12項", "第123項"};
    for (const auto& query : keystrokes)
        last = worker->submit(query);
    EXPECT_EQ(last, first + keystrokes.size());
    const auto seen = waitFor(last);
    EXPECT_EQ(seen.back(), std::pair(last, std::size_t{20}));
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_LT(seen[i - 1].first, seen[i].first);
    EXPECT_LE(seen.size(), 1 + keystrokes.size());

    // Destroyed with queries still waiting, it stops instead of hanging.
    for (int i = 0; i < 50; ++i)
        worker->submit("確認" + std::to_string(i));
    worker.reset();
}
