#include "TranscriptionInfrastructure/audio/LevelMeter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;

TEST(LevelMeter, SmoothsEveryRealFrameReportsAtMostEvery80MillisecondsAndClampsOnlyTheReport)
{
    auto now = std::chrono::steady_clock::time_point(1000s);
    tc::LevelMeter meter([&] { return now; });
    const std::vector<float> half(1000, 0.5f);

    // An empty frame does not count; the first real one is reported at once, at 0.3 of its RMS.
    EXPECT_FALSE(meter.update({}).has_value());
    EXPECT_EQ(meter.average(), 0.0f);
    EXPECT_FLOAT_EQ(meter.update(half).value_or(-1), 0.15f);
    now += 10ms;
    EXPECT_FALSE(meter.update(half).has_value());
    EXPECT_FLOAT_EQ(meter.average(), 0.255f);
    now += 69ms;
    EXPECT_FALSE(meter.update(half).has_value());
    now += 1ms;
    const auto reported = meter.update(half);
    EXPECT_EQ(reported, meter.average());
    EXPECT_GT(meter.average(), 0.255f);

    // Far too loud: the average goes above 1, the report does not.
    const std::vector<float> loud(100, 4.0f);
    for (int i = 0; i < 10; ++i)
        meter.update(loud);
    EXPECT_GT(meter.average(), 1.0f);
    now += 100ms;
    EXPECT_EQ(meter.update(loud), 1.0f);
    // Silence brings the average down gradually, not at once.
    const float before = meter.average();
    now += 100ms;
    meter.update(std::vector<float>(100, 0.0f));
    EXPECT_FLOAT_EQ(meter.average(), before * 0.7f);
}
