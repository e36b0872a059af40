#include "TranscriptionUI/presentation/CalendarBrowsing.h"

#include "TranscriptionUI/presentation/MainThreadHop.h"

#include "support/FakeCalendarProvider.h"
#include "support/QtTestApplication.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace tc {
namespace {

class CalendarBrowsingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    QObject owner;
    std::shared_ptr<MainThreadHop> hop = std::make_shared<MainThreadHop>(&owner);
    std::shared_ptr<test::FakeCalendarProvider> calendar = std::make_shared<test::FakeCalendarProvider>();
    const Date today = CalendarBrowsing::startOfLocalDay(800000000);
};

TEST_F(CalendarBrowsingTest, AReplyForADayLeftMeanwhileNeverShows)
{
    calendar->setStatus(CalendarAuthorizationStatus::granted);
    CalendarBrowsing browsing(calendar, hop, today + 3600);
    ASSERT_EQ(browsing.day(), today);
    int finished = 0;
    browsing.refresh([&] { ++finished; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 1; }, 30000));
    const Date yesterday = CalendarBrowsing::startOfLocalDay(today - 3600);
    calendar->setEvents(yesterday, {CalendarEvent{"e1", "昨日の会議", yesterday + 60, yesterday + 120}});

    // Back and forth before the calendar answers: yesterday's reply arrives when today is shown again.
    QSignalSpy changes(&browsing, &CalendarBrowsing::dayEventsChanged);
    browsing.moveDay(-1, [&] { ++finished; });
    browsing.moveDay(1, [&] { ++finished; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 3; }, 30000));
    EXPECT_EQ(browsing.day(), today);
    EXPECT_TRUE(browsing.dayEvents().empty());
    EXPECT_EQ(changes.count(), 0) << "yesterday's events never flash up under today's date";
    EXPECT_EQ(calendar->requestedDays(), (std::vector<Date>{today, yesterday, today}));
}

} // namespace
} // namespace tc
