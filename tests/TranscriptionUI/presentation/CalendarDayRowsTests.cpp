#include "TranscriptionUI/presentation/CalendarDayRows.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

CalendarEvent event(std::string id, Date start)
{
    return CalendarEvent{std::move(id), "予定", start, start + 60};
}

TEST(CalendarDayRows, SeriesAreTheUidsOfRecurringInstancesAndAnyOtherIdStandsAlone)
{
    EXPECT_EQ(calendarSeriesKey("abc@host/20261207T090000Z"), "abc@host");
    EXPECT_EQ(calendarSeriesKey("a/b/20261207T090000Z"), "a/b") << "only the last part is the instance";
    EXPECT_EQ(calendarSeriesKey("abc@host"), "abc@host");
    EXPECT_EQ(calendarSeriesKey("team/weekly"), "team/weekly") << "a slash of the UID itself";
    EXPECT_EQ(calendarSeriesKey("abc/20261207T0900Z"), "abc/20261207T0900Z");
    EXPECT_EQ(calendarSeriesKey("/20261207T090000Z"), "/20261207T090000Z");
}

TEST(CalendarDayRows, EachSeriesShowsTenThenOneCountOfTheRestInTheDaysOrder)
{
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
