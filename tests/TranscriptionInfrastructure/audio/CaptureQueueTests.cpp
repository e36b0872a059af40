#include "TranscriptionInfrastructure/audio/CaptureQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(CaptureQueue, DeliversEverythingInOrderAcrossThreadsAndAStopRequestWakesAWaitingConsumer)
{
    tc::CaptureQueue<int> queue;
    constexpr int count = 200000;
    std::jthread producer([&] {
        for (int i = 0; i < count; ++i) {
            queue.push(i);
            // Now and then let the consumer fall asleep, so the wake-up path is taken too.
            if (i % 5000 == 0) std::this_thread::sleep_for(1ms);
        }
    });
    std::stop_source never;
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(queue.pop(never.get_token()), i);
    EXPECT_FALSE(queue.tryPop().has_value());

    std::optional<int> result{-1};
    std::jthread consumer([&](std::stop_token stop) { result = queue.pop(stop); });
    // Nothing tells when the consumer has gone to sleep (only pushes signal, by design), so it is given time to; a
    // stop that comes first still passes, proving less.
    std::this_thread::sleep_for(100ms);
    consumer.request_stop();
    consumer.join();
    EXPECT_FALSE(result.has_value());
}
