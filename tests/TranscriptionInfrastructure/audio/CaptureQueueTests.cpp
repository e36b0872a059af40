#include "TranscriptionInfrastructure/audio/CaptureQueue.h"

#include <gtest/gtest.h>

#include <thread>

TEST(CaptureQueue, DeliversEverythingInOrderAcrossThreadsAndAStopRequestWakesAWaitingConsumer)
{
    tc::CaptureQueue<int> queue;
    constexpr int count = 200000;
    std::jthread producer([&] {
        for (int i = 0; i < count; ++i) {
            queue.push(i);
            // Now and then wait for the consumer to fall asleep, so the wake-up path is taken too.
            if (i % 5000 == 0)
                while (!queue.consumerWaiting())
                    std::this_thread::yield();
        }
    });
    // Every element is taken, whatever comes out, so that the producer never waits for a consumer that left.
    std::stop_source never;
    int outOfOrder = 0;
    for (int i = 0; i < count; ++i)
        if (queue.pop(never.get_token()) != i) ++outOfOrder;
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_FALSE(queue.tryPop().has_value());

    std::optional<int> result{-1};
    std::jthread consumer([&](std::stop_token stop) { result = queue.pop(stop); });
    // The stop must wake a consumer that is already waiting.
    while (!queue.consumerWaiting())
        std::this_thread::yield();
    consumer.request_stop();
    consumer.join();
    EXPECT_FALSE(result.has_value());
}
