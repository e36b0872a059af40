#include "TranscriptionInfrastructure/speech/RefreshSchedule.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

constexpr std::size_t at(double seconds)
{
    return static_cast<std::size_t>(seconds * 16000);
}

// The first text is what a speaker waits for: the first refresh comes soon after the onset and, while nothing is on
// show, the next ones follow closely however much they cost. Once text shows, a slow machine refreshes less often.
TEST(RefreshSchedule, TextComesSoonThenRefreshesFollowTheirCost)
{
    const RefreshSchedule::Settings settings{.sampleRate = 16000,
                                             .preRollSeconds = 0.3,
                                             .firstRefreshSeconds = 0.3,
                                             .textlessRefreshSeconds = 0.3,
                                             .minimumRefreshSeconds = 0.5,
                                             .maximumRefreshSeconds = 3.0,
                                             .costFactor = 1.5};
    RefreshSchedule schedule(settings);
    EXPECT_TRUE(schedule.firstPending(1));
    EXPECT_FALSE(schedule.due(1, at(0.55), false)) << "0.3 s of pre-roll and 0.3 s of speech first";
    EXPECT_TRUE(schedule.due(1, at(0.6), false));

    schedule.began(1, at(0.6));
    schedule.cost(1.0);
    EXPECT_FALSE(schedule.firstPending(1));
    EXPECT_FALSE(schedule.due(1, at(0.85), false));
    EXPECT_TRUE(schedule.due(1, at(0.9), false)) << "nothing on show: 0.3 s on, whatever the last one cost";
    EXPECT_FALSE(schedule.due(1, at(2.05), true)) << "on show: 1.5 times the cost";
    EXPECT_TRUE(schedule.due(1, at(2.1), true));
    schedule.cost(0.1);
    EXPECT_FALSE(schedule.due(1, at(1.05), true)) << "never closer than 0.5 s";
    EXPECT_TRUE(schedule.due(1, at(1.1), true));
    schedule.cost(10.0);
    EXPECT_TRUE(schedule.due(1, at(3.6), true)) << "never further apart than 3 s";

    EXPECT_TRUE(schedule.firstPending(2)) << "the next utterance starts over";
    EXPECT_FALSE(schedule.due(2, at(0.3), false));

    RefreshSchedule::Settings spacedByCost = settings;
    spacedByCost.textlessRefreshSeconds = 0;
    RefreshSchedule costly(spacedByCost);
    costly.began(1, at(0.6));
    costly.cost(1.0);
    EXPECT_FALSE(costly.due(1, at(2.05), false));
}

} // namespace
} // namespace tc
