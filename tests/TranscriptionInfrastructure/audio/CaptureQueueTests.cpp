#include "TranscriptionInfrastructure/audio/CaptureQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(CaptureQueue, DeliversEverythingInOrderAcrossThreadsAndAStopRequestWakesAWaitingConsumer)
{
    tc::CaptureQueue<int> queue;
    constexpr int count = 200000;
    // The consumer counts what it took; now and then the producer waits for it to have taken everything, so that
    // the next push finds it going to sleep or asleep and the wake-up path is taken too.
    std::atomic<int> taken{0};
    int pushesToASleeper = 0;
    std::jthread producer([&] {
        for (int i = 0; i < count; ++i) {
            if (i % 5000 == 0)
                for (int seen = taken.load(); seen < i; seen = taken.load())
                    taken.wait(seen);
            if (i % 5000 == 0 && queue.consumerWaiting()) ++pushesToASleeper;
            queue.push(i);
        }
    });
    // Every element is taken, whatever comes out, so that the producer never waits for a consumer that left.
    std::stop_source never;
    int outOfOrder = 0;
    for (int i = 0; i < count; ++i) {
        if (queue.pop(never.get_token()) != i) ++outOfOrder;
        taken.store(i + 1);
        if ((i + 1) % 5000 == 0) taken.notify_one();
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_FALSE(queue.tryPop().has_value());
    EXPECT_GT(pushesToASleeper, 0) << "no push ever had to wake the consumer";

    // The stop must wake a consumer that waits: the request comes once it is about to, and a lost wake-up hangs here.
    std::atomic<bool> popping{false};
    std::optional<int> result{-1};
    std::jthread consumer([&](std::stop_token stop) {
        popping.store(true);
        popping.notify_one();
        result = queue.pop(stop);
    });
    popping.wait(false);
    consumer.request_stop();
    consumer.join();
    EXPECT_FALSE(result.has_value());
}
