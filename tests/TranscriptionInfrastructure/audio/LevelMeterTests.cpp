#include "TranscriptionInfrastructure/audio/LevelMeter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;
using tc::LevelMeter;

namespace {

struct ManualClock {
    std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
    LevelMeter::Clock clock()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(LevelMeter, SmoothsEveryRealFrameAndReportsAtMostEvery80Milliseconds)
{
    ManualClock time;
    LevelMeter meter(time.clock());
    const std::vector<float> half(1000, 0.5f);

    // An empty frame does not count; the first real one is reported at once, at 0.3 of its RMS.
    EXPECT_FALSE(meter.update({}).has_value());
    EXPECT_EQ(meter.average(), 0.0f);
    auto level = meter.update(half);
    ASSERT_TRUE(level.has_value());
    EXPECT_FLOAT_EQ(*level, 0.15f);

    time.now += 10ms;
    EXPECT_FALSE(meter.update(half).has_value());
    EXPECT_FLOAT_EQ(meter.average(), 0.255f);

    time.now += 69ms;
    EXPECT_FALSE(meter.update(half).has_value());

    time.now += 1ms;
    level = meter.update(half);
    ASSERT_TRUE(level.has_value());
    EXPECT_NEAR(*level, 0.255f + (0.5f - 0.255f) * 0.3f + (0.5f - (0.255f + (0.5f - 0.255f) * 0.3f)) * 0.3f, 1e-6f);
}

TEST(LevelMeter, ClampsOnlyTheReportedCopy)
{
    ManualClock time;
    LevelMeter meter(time.clock());
    const std::vector<float> loud(100, 4.0f);
    for (int i = 0; i < 10; ++i)
        meter.update(loud);
    EXPECT_GT(meter.average(), 1.0f);
    time.now += 100ms;
    EXPECT_EQ(meter.update(loud), 1.0f);
    const float before = meter.average();

    // Silence brings the average down gradually, not at once.
    time.now += 100ms;
    const std::vector<float> silence(100, 0.0f);
    meter.update(silence);
    EXPECT_FLOAT_EQ(meter.average(), before * 0.7f);
}
