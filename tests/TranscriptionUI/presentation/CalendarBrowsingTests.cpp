#include "TranscriptionUI/presentation/CalendarBrowsing.h"

#include "TranscriptionUI/presentation/CalendarDayRows.h"
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

CalendarEvent event(std::string id, Date start)
{
    return CalendarEvent{std::move(id), "予定", start, start + 60};
}

// A series is the UID of a recurring event's instances; any other id stands alone.
TEST(CalendarDayRows, EachSeriesShowsTenThenOneCountOfTheRestInTheDaysOrder)
{
    EXPECT_EQ(calendarSeriesKey("a/b/20261207T090000Z"), "a/b") << "only the last part is the instance";
    EXPECT_EQ(calendarSeriesKey("abc@host"), "abc@host");
    EXPECT_EQ(calendarSeriesKey("team/weekly"), "team/weekly") << "a slash of the UID itself";
    EXPECT_EQ(calendarSeriesKey("abc/20261207T0900Z"), "abc/20261207T0900Z");
    EXPECT_EQ(calendarSeriesKey("/20261207T090000Z"), "/20261207T090000Z");

    std::vector<CalendarEvent> events;
    for (int i = 0; i < 13; ++i) {
        const std::string second = (i < 10 ? "0" : "") + std::to_string(i);
        events.push_back(event("tick/20261207T0900" + second + "Z", 100 + i));
        if (i == 4) events.push_back(event("lunch", 104.5));
    }
    events.push_back(event("other/20261207T100000Z", 200));

    const auto rows = calendarDayRows(events);
    ASSERT_EQ(rows.size(), 13u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(rows[static_cast<std::size_t>(i)].event, events[static_cast<std::size_t>(i)]);
    EXPECT_EQ(rows[5].event.id, "lunch") << "other events keep their place among the series";
    EXPECT_EQ(rows[10].event.id, "tick/20261207T090009Z");
    EXPECT_EQ(rows[11], (CalendarDayRow{CalendarDayRow::Kind::more, {}, 3})) << "right after the tenth";
    EXPECT_EQ(rows[12].event.id, "other/20261207T100000Z");

    // Exactly ten get no count (a huge series is shown through the sidebar's own test).
    events.resize(10);
    EXPECT_EQ(calendarDayRows(events).size(), 10u);

    // The calendar may list only the first occurrences already and count the rest on the last one listed.
    std::vector<CalendarEvent> listed;
    for (int i = 0; i < 3; ++i)
        listed.push_back(event("daily/20261207T0" + std::to_string(7 + i) + "0000Z", 100 + i));
    listed.back().moreOccurrences = 86000;
    listed.push_back(event("lunch", 200));
    const auto counted = calendarDayRows(listed);
    ASSERT_EQ(counted.size(), 5u);
    EXPECT_EQ(counted[3], (CalendarDayRow{CalendarDayRow::Kind::more, {}, 86000}));
    EXPECT_EQ(counted[4].event.id, "lunch");
}

} // namespace
} // namespace tc
