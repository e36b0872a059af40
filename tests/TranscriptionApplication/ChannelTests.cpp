#include "TranscriptionApplication/Channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using tc::Channel;

TEST(Channel, DeliversInOrderThenEndsOrRethrowsAfterTheBufferedElements)
{
    auto channel = Channel<int>::make();
    EXPECT_TRUE(channel->yield(1));
    EXPECT_TRUE(channel->yield(2));
    channel->finish();
    EXPECT_FALSE(channel->yield(3));
    EXPECT_EQ(channel->next(), 1);
    EXPECT_EQ(channel->next(), 2);
    EXPECT_EQ(channel->next(), std::nullopt);

    auto failing = Channel<int>::make();
    failing->yield(7);
    failing->fail(std::make_exception_ptr(std::runtime_error("壊れた")));
    EXPECT_EQ(failing->next(), 7);
    EXPECT_THROW(failing->next(), std::runtime_error);
}

TEST(Channel, KeepsEachProducersOrderUnderConcurrency)
{
    auto channel = Channel<int>::make();
    constexpr int perProducer = 5000;
    std::vector<std::jthread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([channel, p] {
            for (int i = 0; i < perProducer; ++i)
                channel->yield(p * perProducer + i);
        });
    }
    std::vector<int> last(4, -1);
    int received = 0;
    while (received < 4 * perProducer) {
        auto value = channel->next();
        ASSERT_TRUE(value);
        const int producer = *value / perProducer;
        EXPECT_GT(*value, last[producer]);
        last[producer] = *value;
        ++received;
    }
}

TEST(Channel, TerminationHandlerRunsExactlyOnce)
{
    auto channel = Channel<int>::make();
    std::atomic<int> calls{0};
    channel->onTermination([&] { ++calls; });
    channel->finish();
    channel->cancel();
    channel->fail(std::make_exception_ptr(std::runtime_error("x")));
    EXPECT_EQ(calls, 1);

    auto late = Channel<int>::make();
    late->cancel();
    // Run at once, outside the channel's lock: the handler may ask the channel.
    late->onTermination([&] { calls += late->isEnded() ? 1 : 0; });
    EXPECT_EQ(calls, 2);
}

TEST(Channel, StopWhileWaitingCancelsTheStream)
{
    auto channel = Channel<int>::make();
    std::atomic<bool> terminated{false};
    channel->onTermination([&] { terminated = true; });
    std::stop_source stop;
    std::jthread consumer([&] { EXPECT_EQ(channel->next(stop.get_token()), std::nullopt); });
    stop.request_stop();
    consumer.join();
    EXPECT_TRUE(terminated);
    EXPECT_FALSE(channel->yield(1));
}
