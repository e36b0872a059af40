#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"

#include "TranscriptionDomain/Uuid.h"

#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace tc {
namespace {

namespace fs = std::filesystem;

Date utc(int year, int month, int day, int hour = 0, int minute = 0)
{
    std::tm fields{0, minute, hour, day, month - 1, year - 1900};
    return dateFromUnixSeconds(static_cast<double>(timegm(&fields)));
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

std::string calendar(const std::string& body)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string event(const std::string& fields)
{
    return "BEGIN:VEVENT\r\n" + fields + "END:VEVENT\r\n";
}

// "title, day of month and time of its start in UTC, minutes it lasts".
std::vector<std::string> described(const std::vector<CalendarEvent>& events)
{
    std::vector<std::string> lines;
    for (const auto& e : events) {
        const auto start = static_cast<std::time_t>(unixSecondsFromDate(e.start));
        char when[16];
        std::strftime(when, sizeof when, "%dT%H:%M", std::gmtime(&start));
        lines.push_back(e.title + " " + when + " " + std::to_string(static_cast<long>(e.end - e.start) / 60));
    }
    return lines;
}

class CalendarFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Floating and all-day times are local: every case here is read in Berlin, whatever the machine's zone.
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        fs::create_directories(m_root / "calendars");
        m_consent->record(ConsentTopic::calendar, Consent::granted);
    }

    void write(const std::string& name, const std::string& text)
    {
        std::ofstream(m_root / "calendars" / name, std::ios::binary) << text;
    }
    // A calendar file of tests/data/calendar, as the user would have placed it.
    void place(const std::string& name)
    {
        fs::copy_file(test::testDataDir() / "calendar" / name, m_root / "calendars" / name);
    }

    test::TemporaryDirectory m_dir;
    const fs::path m_root = m_dir.path();
    std::shared_ptr<ConsentStore> m_consent = std::make_shared<ConsentStore>(m_root / "settings.ini");
    std::shared_ptr<ICalendarEventStore> m_store = std::make_shared<ICalendarEventStore>(
        ICalendarEventStore::Locations{m_root / "calendars", m_root / "evolution"});
    EventKitCalendarProvider m_provider{m_consent, m_store};
};

TEST_F(CalendarFixture, Calendar_ListsADaysOccurrencesInTheirTimeZonesWithRecurrencesExpanded)
{
    // work.ics: weekly on Mondays at 10:00 Berlin time since 2020, so reaching 2026 needs a long expansion, with an
    // excluded, an extra and a moved instance; zones.ics: a zone of the file's own, a named one and floating time;
    // dst.ics: 2026-03-29 in Berlin lasts 23 hours, 22:00 UTC on the 28th to 22:00 UTC on the 29th.
    for (const char* name : {"work.ics", "zones.ics", "dst.ics", "titles.ics"})
        place(name);
    // Rules that can never match, in numbers, before rules libical has to iterate: those must still get their turn.
    const auto impossible = words("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30 FREQ=MONTHLY;BYMONTH=4;BYMONTHDAY=31 "
                                  "FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30 FREQ=YEARLY;BYDAY=MO;BYSETPOS=366 "
                                  "FREQ=MONTHLY;BYSETPOS=366 FREQ=MONTHLY;BYMONTHDAY=31;BYDAY=1MO "
                                  "FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=-31;BYDAY=-1SU");
    std::string never;
    for (int i = 0; i < 200; ++i)
        never += event("UID:never-" + std::to_string(i) + "\r\nSUMMARY:来ない\r\nDTSTART:20000101T090000Z\r\n" +
                       "RRULE:" + impossible[i % impossible.size()] + "\r\n");
    // last-days.ics: possible rules, the last Sunday of March on the 31st among them, which must not be taken for one
    // of the rules above.
    const auto possible = test::readText(test::testDataDir() / "calendar" / "last-days.ics");
    const auto firstEvent = possible.find("BEGIN:VEVENT");
    write("never.ics", possible.substr(0, firstEvent) + never + possible.substr(firstEvent));

    const struct {
        const char* name;
        Date day;
        std::vector<std::string> events;
    } days[] = {
        {"rule and count", utc(2026, 1, 5, 12), {"朝会 05T08:00 15", "定例 05T09:00 60"}},
        {"excluded date", utc(2026, 1, 12, 12), {}},
        {"extra date", utc(2026, 1, 14, 12), {"定例 14T14:00 60"}},
        {"overridden instance", utc(2026, 1, 19, 12), {"定例（変更） 19T12:00 60"}},
        {"last of the count", utc(2026, 1, 10, 12), {"朝会 10T08:00 15"}},
        {"past the count", utc(2026, 1, 11, 12), {}},
        {"zones", utc(2026, 6, 10, 12), {"ローカル 10T05:00 30", "東京 10T09:00 60", "NY 10T12:00 30"}},
        // 23:50 local, still the 29th.
        {"short day", utc(2026, 3, 29, 21, 50), {"出張 27T23:00 4260", "終日 28T23:00 1380", "遅い 29T21:30 10"}},
        {"after the short day", utc(2026, 3, 30, 6), {"出張 27T23:00 4260", "翌日 29T22:30 10"}},
        {"titles",
         utc(2026, 7, 1, 12),
         {"(無題の予定) 01T06:30 0", "九時A 01T07:00 0", "九時B 01T07:00 0", " 01T10:00 0"}},
        {"last weekday", utc(2026, 11, 30, 12), {"月末の平日 30T08:00 0"}},
        {"leap day", utc(2032, 2, 29, 12), {"うるう日 29T08:00 0"}},
        {"no leap day", utc(2026, 2, 28, 12), {}},
        {"last Sunday on the 31st", utc(2024, 3, 31, 12), {"三月最後の日曜 31T08:00 0"}},
    };
    for (const auto& d : days) {
        SCOPED_TRACE(d.name);
        EXPECT_EQ(described(m_provider.eventsOnDay(d.day)), d.events);
    }
    // The first start is an occurrence of its own, whatever the rule says.
    EXPECT_EQ(m_provider.eventsOnDay(utc(2000, 1, 1, 12)).size(), 200u);

    // Instances of one rule keep distinct identifiers; an event without one gets a new one at every reading.
    const auto monday = m_provider.eventsOnDay(utc(2026, 1, 5, 12));
    EXPECT_NE(monday[1].id.find("weekly"), std::string::npos);
    EXPECT_NE(m_provider.eventsOnDay(utc(2026, 1, 26, 12)).at(0).id, monday[1].id);
    const auto first = m_provider.eventsOnDay(utc(2026, 7, 1, 12));
    EXPECT_EQ(first[0].id, "half-eight");
    EXPECT_TRUE(Uuid::fromString(first[2].id).has_value());
    EXPECT_NE(m_provider.eventsOnDay(utc(2026, 7, 1, 12))[2].id, first[2].id);
}

TEST_F(CalendarFixture, Calendar_ArithmeticExpansionAgreesWithLibical)
{
    const auto rules =
        words("FREQ=DAILY FREQ=DAILY;INTERVAL=3 FREQ=DAILY;COUNT=40 FREQ=WEEKLY FREQ=WEEKLY;BYDAY=MO,WE,FR "
              "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;WKST=SU FREQ=WEEKLY;BYDAY=SA,SU;COUNT=25 "
              "FREQ=WEEKLY;UNTIL=20260301T000000Z FREQ=MONTHLY FREQ=MONTHLY;INTERVAL=2 "
              "FREQ=MONTHLY;BYMONTHDAY=15 FREQ=MONTHLY;BYDAY=2TH FREQ=MONTHLY;BYDAY=-1FR;COUNT=12 "
              "FREQ=YEARLY FREQ=YEARLY;INTERVAL=2;COUNT=4");
    const char* zones[] = {"", ";TZID=Europe/Berlin", ";TZID=America/New_York"};
    std::mt19937 random(7);
    std::string body;
    for (int i = 0; i < 240; ++i) {
        char start[32];
        std::snprintf(start, sizeof start, "2025%02d%02dT%02d%02d00", 1 + static_cast<int>(random() % 12),
                      1 + static_cast<int>(random() % 31 % 28), static_cast<int>(random() % 24),
                      static_cast<int>(15 * (random() % 4)));
        const bool allDay = random() % 5 == 0;
        const std::string when = allDay ? std::string(";VALUE=DATE:") + std::string(start, 8)
                                        : std::string(zones[random() % 3]) + ":" + start;
        body += event("UID:r" + std::to_string(i) + "\r\nSUMMARY:s\r\nDTSTART" + when + "\r\n" +
                      (allDay ? "" : "DURATION:PT90M\r\n") + "RRULE:" + rules[random() % rules.size()] + "\r\n");
    }
    write("rules.ics", calendar(body));
    // The reference must expand everything, however long a loaded machine keeps it from running.
    ICalendarEventStore reference({m_root / "calendars", std::nullopt}, false, std::chrono::hours(1));

    for (int i = 0; i < 80; ++i) {
        const Date from = utc(2025, 1, 1) + 86400.0 * static_cast<double>(random() % 900);
        const auto fast = m_store->eventsBetween(from, from + 86400);
        const auto slow = reference.eventsBetween(from, from + 86400);
        ASSERT_EQ(fast.size(), slow.size()) << "day " << from;
        for (std::size_t k = 0; k < fast.size(); ++k) {
            EXPECT_EQ(fast[k].uid, slow[k].uid);
            EXPECT_EQ(fast[k].start, slow[k].start);
            EXPECT_EQ(fast[k].end, slow[k].end);
        }
    }
}

TEST_F(CalendarFixture, Calendar_SkipsBrokenFilesAndComponentsAndKeepsLibicalsWarningsOffStandardError)
{
    write("garbage.ics", std::string("\x00\xff\xfe not a calendar at all\r\nBEGIN:VEVENT\r\n", 46));
    write("truncated.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:cut\r\nSUMMARY:途中\r\nDTSTART:20260801T09");
    // libical warns on stderr about an END without its BEGIN.
    write("stray.ics",
          "END:VEVENT\r\n" + calendar(event("UID:ok\r\nSUMMARY:残る予定\r\nDTSTART:20260801T090000Z\r\n")));
    // A start that is no date, no start, a rule that does not parse, a good event and one every second since 2020.
    place("mixed.ics");
    // Past the size limit a file is left alone whole instead of stalling the app.
    std::string huge = "BEGIN:VCALENDAR\r\n";
    const std::string filler = event("UID:huge\r\nSUMMARY:巨大\r\nDTSTART:20260801T080000Z\r\n");
    while (huge.size() <= ICalendarEventStore::kMaxFileBytes)
        huge += filler;
    write("huge.ics", huge + "END:VCALENDAR\r\n");

    testing::internal::CaptureStderr();
    std::set<std::string> titles;
    for (const auto& e : m_provider.eventsOnDay(utc(2026, 8, 1, 12)))
        titles.insert(e.title);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(m_store->libraryMessages().find("END before BEGIN"), std::string::npos) << m_store->libraryMessages();
    for (const char* title : {"残る予定", "正常"})
        EXPECT_TRUE(titles.contains(title)) << title;
    for (const char* title : {"開始なし", "巨大"})
        EXPECT_FALSE(titles.contains(title)) << title;
}

TEST_F(CalendarFixture, Calendar_ReadsTheUsersAndTheDesktopsCalendarsWithConsentAndNoticesChangedFiles)
{
    fs::create_directories(m_root / "evolution/system");
    std::ofstream(m_root / "evolution/system/calendar.ics", std::ios::binary)
        << calendar(event("UID:desk\r\nSUMMARY:デスクトップ\r\nDTSTART:20260901T090000Z\r\n"));
    write("mine.ics", calendar(event("UID:v1\r\nSUMMARY:初版\r\nDTSTART:20260901T100000Z\r\n")));
    const Date day = utc(2026, 9, 1, 12);

    // Nothing is read until the user consents; the answer survives in the settings file.
    auto consent = std::make_shared<ConsentStore>(m_root / "fresh.ini");
    EventKitCalendarProvider provider(consent, m_store);
    EXPECT_EQ(provider.authorizationStatus(), CalendarAuthorizationStatus::undetermined);
    EXPECT_TRUE(provider.eventsOnDay(day).empty());
    consent->record(ConsentTopic::calendar, Consent::denied);
    EXPECT_EQ(provider.authorizationStatus(), CalendarAuthorizationStatus::denied);
    EXPECT_TRUE(provider.eventsOnDay(day).empty());
    EXPECT_TRUE(provider.requestAccess());
    EXPECT_EQ(provider.authorizationStatus(), CalendarAuthorizationStatus::granted);
    EXPECT_EQ(ConsentStore(m_root / "fresh.ini").consent(ConsentTopic::calendar), Consent::granted);
    EXPECT_EQ(described(provider.eventsOnDay(day)),
              (std::vector<std::string>{"デスクトップ 01T09:00 0", "初版 01T10:00 0"}));

    write("mine.ics", calendar(event("UID:v2\r\nSUMMARY:改訂版です\r\nDTSTART:20260901T110000Z\r\n")));
    const auto mine = m_root / "calendars/mine.ics";
    fs::last_write_time(mine, fs::last_write_time(mine) + std::chrono::seconds(5));
    EXPECT_EQ(described(provider.eventsOnDay(day)),
              (std::vector<std::string>{"デスクトップ 01T09:00 0", "改訂版です 01T11:00 0"}));
    fs::remove(mine);
    EXPECT_EQ(provider.eventsOnDay(day).size(), 1u);
}

TEST_F(CalendarFixture, Calendar_ListsTheFirstTenOccurrencesOfASeriesAndCountsTheRest)
{
    // One event every second without end, every minute 100 times, every hour less one, and a single one.
    place("series.ics");

    const auto events = m_provider.eventsOnDay(utc(2026, 12, 7, 12));
    EXPECT_EQ(events.size(), 31u);
    std::map<std::string, std::vector<CalendarEvent>> bySeries;
    for (const auto& e : events)
        bySeries[e.title].push_back(e);
    // From Berlin's midnight on, one every second without end; COUNT ends the minutes inside the day; 23:00 the
    // evening before ends after midnight, so it counts, and the excluded hour does not.
    const struct {
        const char* series;
        std::size_t listed;
        Date first;
        std::size_t more;
    } expected[] = {{"毎秒", 10, utc(2026, 12, 6, 23), 86'400 - 10},
                    {"毎分", 10, utc(2026, 12, 7, 10), 90},
                    {"毎時", 10, utc(2026, 12, 6, 23), 24 - 10 - 1},
                    {"単発", 1, utc(2026, 12, 7, 12), 0}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.series);
        const auto& listed = bySeries[e.series];
        ASSERT_EQ(listed.size(), e.listed);
        EXPECT_EQ(listed.front().start, e.first);
        EXPECT_EQ(listed.back().moreOccurrences, e.more);
        EXPECT_EQ(listed.front().moreOccurrences, 0u);
    }
    EXPECT_EQ(bySeries["毎秒"].back().start, utc(2026, 12, 6, 23) + 9);
}

} // namespace
} // namespace tc
