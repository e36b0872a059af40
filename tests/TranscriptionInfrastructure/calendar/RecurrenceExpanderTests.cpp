#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"
#include "TranscriptionInfrastructure/calendar/RecurrenceExpander.h"

#include "TranscriptionDomain/ReferenceDate.h"

#include <gtest/gtest.h>

#include <libical/ical.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tc {
namespace {

struct ComponentFree {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

double unixAt(const char* utc)
{
    return static_cast<double>(icaltime_as_timet(icaltime_from_string(utc)));
}

std::string utcText(Date date)
{
    const auto seconds = static_cast<std::time_t>(unixSecondsFromDate(date));
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%MZ", std::gmtime(&seconds));
    return text;
}

// "start" for each occurrence, "start (moved from recurrence id)" for a moved one, "+n" after the last when n more
// were left out; expanded once by arithmetic where it can and once by libical alone, which must agree.
std::vector<std::string> occurrences(const std::string& fields, const char* from, const char* to)
{
    const std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + fields + "END:VCALENDAR\r\n";
    std::unique_ptr<icalcomponent, ComponentFree> root(icalparser_parse_string(text.c_str()));
    EXPECT_TRUE(root);
    if (!root) return {};
    std::vector<std::vector<std::string>> byPath;
    for (const bool arithmetic : {true, false}) {
        const auto entries = CalendarEntry::readAll(root.get());
        RecurrenceExpander expander(std::chrono::steady_clock::now() + std::chrono::hours(1), arithmetic);
        std::vector<StoredCalendarEvent> events;
        for (const auto& entry : entries)
            expander.expand(entry, unixAt(from), unixAt(to), events);
        std::vector<std::string> described;
        for (const auto& event : events) {
            std::string line = utcText(event.start);
            if (!event.recurrenceID.empty() && event.recurrenceID.substr(0, 13) != line.substr(0, 13))
                line += " (moved from " + event.recurrenceID + ")";
            described.push_back(line);
            if (event.moreOccurrences) described.push_back("+" + std::to_string(event.moreOccurrences));
        }
        byPath.push_back(described);
    }
    EXPECT_EQ(byPath[0], byPath[1]) << fields;
    return byPath[0];
}

std::string event(const std::string& start, const std::string& rule, const std::string& more = "")
{
    return "BEGIN:VEVENT\r\nUID:u\r\nSUMMARY:s\r\nDTSTART" + start + "\r\nDURATION:PT1H\r\nRRULE:" + rule + "\r\n" +
           more + "END:VEVENT\r\n";
}

using Lines = std::vector<std::string>;

TEST(RecurrenceExpander, CountAndUntilEndTheSeries)
{
    EXPECT_EQ(occurrences(event(":20260105T090000Z", "FREQ=DAILY;COUNT=3"), "20260101T000000Z", "20260201T000000Z"),
              (Lines{"20260105T0900Z", "20260106T0900Z", "20260107T0900Z"}));
    // UNTIL is inclusive; a window starting inside the series lists only what it holds.
    EXPECT_EQ(occurrences(event(":20260105T090000Z", "FREQ=WEEKLY;BYDAY=MO,WE;UNTIL=20260121T090000Z"),
                          "20260110T000000Z", "20260201T000000Z"),
              (Lines{"20260112T0900Z", "20260114T0900Z", "20260119T0900Z", "20260121T0900Z"}));
    // An UNTIL date without a time, common in files from other programs, keeps that whole day's instance.
    EXPECT_EQ(
        occurrences(event(":20260105T090000Z", "FREQ=DAILY;UNTIL=20260107"), "20260101T000000Z", "20260201T000000Z"),
        (Lines{"20260105T0900Z", "20260106T0900Z", "20260107T0900Z"}));
    EXPECT_EQ(occurrences(event(";TZID=Asia/Tokyo:20260105T230000", "FREQ=DAILY;UNTIL=20260106"), "20260101T000000Z",
                          "20260201T000000Z"),
              (Lines{"20260105T1400Z", "20260106T1400Z"}));
    // COUNT counts from the series' start, not from the window's.
    EXPECT_EQ(occurrences(event(":20260105T090000Z", "FREQ=WEEKLY;INTERVAL=2;COUNT=4"), "20260125T000000Z",
                          "20260401T000000Z"),
              (Lines{"20260202T0900Z", "20260216T0900Z"}));
}

TEST(RecurrenceExpander, WeekdaysWithOrdinalsAndDaysFromTheMonthsEnd)
{
    EXPECT_EQ(
        occurrences(event(":20260130T090000Z", "FREQ=MONTHLY;BYDAY=-1FR"), "20260101T000000Z", "20260501T000000Z"),
        (Lines{"20260130T0900Z", "20260227T0900Z", "20260327T0900Z", "20260424T0900Z"}));
    EXPECT_EQ(occurrences(event(":20260113T090000Z", "FREQ=MONTHLY;BYDAY=2TU;COUNT=3"), "20260101T000000Z",
                          "20270101T000000Z"),
              (Lines{"20260113T0900Z", "20260210T0900Z", "20260310T0900Z"}));
    EXPECT_EQ(
        occurrences(event(":20260131T090000Z", "FREQ=MONTHLY;BYMONTHDAY=-1"), "20260101T000000Z", "20260501T000000Z"),
        (Lines{"20260131T0900Z", "20260228T0900Z", "20260331T0900Z", "20260430T0900Z"}));
    // A monthly rule on the 31st skips the months without one.
    EXPECT_EQ(occurrences(event(":20260131T090000Z", "FREQ=MONTHLY"), "20260101T000000Z", "20260601T000000Z"),
              (Lines{"20260131T0900Z", "20260331T0900Z", "20260531T0900Z"}));
    // A yearly series on the day that ends its month.
    EXPECT_EQ(occurrences(event(":20251231T090000Z", "FREQ=YEARLY"), "20260101T000000Z", "20280101T000000Z"),
              (Lines{"20261231T0900Z", "20271231T0900Z"}));
}

TEST(RecurrenceExpander, ExcludedAndReplacedInstancesLeaveTheSeries)
{
    const std::string master = event(":20260105T090000Z", "FREQ=DAILY;COUNT=5", "EXDATE:20260107T090000Z\r\n");
    const std::string moved = "BEGIN:VEVENT\r\nUID:u\r\nSUMMARY:s\r\nRECURRENCE-ID:20260108T090000Z\r\n"
                              "DTSTART:20260108T150000Z\r\nDURATION:PT1H\r\nEND:VEVENT\r\n";
    const std::string cancelled = "BEGIN:VEVENT\r\nUID:u\r\nSUMMARY:s\r\nRECURRENCE-ID:20260106T090000Z\r\n"
                                  "DTSTART:20260106T090000Z\r\nDURATION:PT1H\r\nSTATUS:CANCELLED\r\nEND:VEVENT\r\n";
    EXPECT_EQ(occurrences(master + moved + cancelled, "20260101T000000Z", "20260201T000000Z"),
              (Lines{"20260105T0900Z", "20260109T0900Z", "20260108T1500Z (moved from 20260108T090000Z)"}));
    // An extra date joins the series; one that repeats an instance is listed once.
    EXPECT_EQ(occurrences(event(":20260105T090000Z", "FREQ=DAILY;COUNT=2",
                                "RDATE:20260110T120000Z\r\nRDATE:20260106T090000Z\r\n"),
                          "20260101T000000Z", "20260201T000000Z"),
              (Lines{"20260105T0900Z", "20260106T0900Z", "20260110T1200Z"}));
}

TEST(RecurrenceExpander, ImpossibleRulesLeaveOnlyTheFirstInstance)
{
    for (const char* rule : {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", "FREQ=MONTHLY;BYDAY=1MO;BYMONTHDAY=31",
                             "FREQ=WEEKLY;BYDAY=MO;BYSETPOS=2"})
        EXPECT_EQ(occurrences(event(":20260105T090000Z", rule), "20260101T000000Z", "20360101T000000Z"),
                  (Lines{"20260105T0900Z"}))
            << rule;
}

TEST(RecurrenceExpander, WallClockTimesKeepTheirHourAcrossAClockChange)
{
    // Berlin moves to summer time on 2026-03-29: nine o'clock is 08:00 UTC before and 07:00 UTC after.
    EXPECT_EQ(occurrences(event(";TZID=Europe/Berlin:20260327T090000", "FREQ=DAILY;COUNT=4"), "20260301T000000Z",
                          "20260401T000000Z"),
              (Lines{"20260327T0800Z", "20260328T0800Z", "20260329T0700Z", "20260330T0700Z"}));
    EXPECT_EQ(occurrences(event(";TZID=America/New_York:20261030T090000", "FREQ=WEEKLY;BYDAY=FR,MO"),
                          "20261029T000000Z", "20261104T000000Z"),
              (Lines{"20261030T1300Z", "20261102T1400Z"}));
}

TEST(RecurrenceExpander, HugeIntervalsAndFineStepsAreCountedNotWalked)
{
    // Every 10,000 days: the next instance is in 2053, and nothing falls between.
    EXPECT_EQ(
        occurrences(event(":20260101T090000Z", "FREQ=DAILY;INTERVAL=10000"), "20260102T000000Z", "20530101T000000Z"),
        Lines{});
    EXPECT_EQ(
        occurrences(event(":20260101T090000Z", "FREQ=DAILY;INTERVAL=10000"), "20530101T000000Z", "20540101T000000Z"),
        (Lines{"20530519T0900Z"}));
    EXPECT_EQ(
        occurrences(event(":20260101T090000Z", "FREQ=YEARLY;INTERVAL=500"), "20260102T000000Z", "25300101T000000Z"),
        (Lines{"25260101T0900Z"}));
    // Every second of a day, less one excluded: the first ten listed, the rest counted.
    const auto secondly = occurrences(
        "BEGIN:VEVENT\r\nUID:u\r\nSUMMARY:s\r\nDTSTART:20260101T000000Z\r\nDURATION:PT0S\r\nRRULE:FREQ=SECONDLY\r\n"
        "EXDATE:20260101T120000Z\r\nEND:VEVENT\r\n",
        "20260101T000000Z", "20260102T000000Z");
    ASSERT_EQ(secondly.size(), ICalendarEventStore::kMaxOccurrencesPerSeries + 1);
    EXPECT_EQ(secondly.back(), "+" + std::to_string(86'400 - 1 - ICalendarEventStore::kMaxOccurrencesPerSeries));
}

} // namespace
} // namespace tc
