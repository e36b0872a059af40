#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"

#include "TranscriptionDomain/Uuid.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace tc {
namespace {

namespace fs = std::filesystem;

Date utc(int year, int month, int day, int hour = 0, int minute = 0)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    return dateFromUnixSeconds(static_cast<double>(timegm(&fields)));
}

std::string calendar(const std::string& body)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string event(const std::string& fields)
{
    return "BEGIN:VEVENT\r\n" + fields + "END:VEVENT\r\n";
}

class CalendarFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_root / "calendars");
        fs::create_directories(m_root / "evolution");
        if (const char* tz = std::getenv("TZ")) m_savedTZ = tz;
        useZone("Europe/Berlin");
        m_consent = std::make_shared<ConsentStore>(m_root / "settings.ini");
        m_store = std::make_shared<ICalendarEventStore>(
            ICalendarEventStore::Locations{m_root / "calendars", m_root / "evolution"});
        m_provider = std::make_unique<EventKitCalendarProvider>(m_consent, m_store);
        m_consent->record(ConsentTopic::calendar, Consent::granted);
    }

    void TearDown() override
    {
        if (m_savedTZ)
            setenv("TZ", m_savedTZ->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static void useZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }

    void write(const std::string& name, const std::string& text)
    {
        std::ofstream(m_root / "calendars" / name, std::ios::binary) << text;
    }

    test::TemporaryDirectory m_dir;
    const fs::path m_root = m_dir.path();
    std::optional<std::string> m_savedTZ;
    std::shared_ptr<ConsentStore> m_consent;
    std::shared_ptr<ICalendarEventStore> m_store;
    std::unique_ptr<EventKitCalendarProvider> m_provider;
};

TEST_F(CalendarFixture, Calendar_ExpandsRecurrencesWithExceptionsExtraDatesAndOverrides)
{
    // Weekly on Mondays at 10:00 Berlin time since 2020, so reaching 2026 needs a long expansion.
    write("work.ics",
          calendar(event("UID:weekly\r\nSUMMARY:定例\r\nDTSTART;TZID=Europe/Berlin:20200106T100000\r\n"
                         "DTEND;TZID=Europe/Berlin:20200106T110000\r\nRRULE:FREQ=WEEKLY;BYDAY=MO\r\n"
                         "EXDATE;TZID=Europe/Berlin:20260112T100000\r\n"
                         "RDATE;TZID=Europe/Berlin:20260114T150000\r\n") +
                   event("UID:weekly\r\nSUMMARY:定例（変更）\r\nRECURRENCE-ID;TZID=Europe/Berlin:20260119T100000\r\n"
                         "DTSTART;TZID=Europe/Berlin:20260119T130000\r\nDTEND;TZID=Europe/Berlin:20260119T140000\r\n") +
                   event("UID:daily-count\r\nSUMMARY:朝会\r\nDTSTART:20260101T080000Z\r\nDURATION:PT15M\r\n"
                         "RRULE:FREQ=DAILY;COUNT=10\r\n")));

    const auto monday = m_provider->eventsOnDay(utc(2026, 1, 5, 12));
    ASSERT_EQ(monday.size(), 2u);
    EXPECT_EQ(monday[0].title, "朝会");
    EXPECT_EQ(monday[0].start, utc(2026, 1, 5, 8));
    EXPECT_EQ(monday[0].end, utc(2026, 1, 5, 8, 15));
    EXPECT_EQ(monday[1].title, "定例");
    EXPECT_EQ(monday[1].start, utc(2026, 1, 5, 9));
    EXPECT_EQ(monday[1].end, utc(2026, 1, 5, 10));
    EXPECT_NE(monday[1].id.find("weekly"), std::string::npos);

    // The excluded Monday is empty; the extra date appears on its Wednesday.
    EXPECT_TRUE(m_provider->eventsOnDay(utc(2026, 1, 12, 12)).empty());
    const auto wednesday = m_provider->eventsOnDay(utc(2026, 1, 14, 12));
    ASSERT_EQ(wednesday.size(), 1u);
    EXPECT_EQ(wednesday[0].start, utc(2026, 1, 14, 14));
    EXPECT_EQ(wednesday[0].end, utc(2026, 1, 14, 15));

    // The overridden instance moves and keeps its own title; the original time is gone.
    const auto moved = m_provider->eventsOnDay(utc(2026, 1, 19, 12));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].title, "定例（変更）");
    EXPECT_EQ(moved[0].start, utc(2026, 1, 19, 12));

    // COUNT ends the daily rule after ten instances.
    EXPECT_EQ(m_provider->eventsOnDay(utc(2026, 1, 10, 12)).size(), 1u);
    EXPECT_TRUE(m_provider->eventsOnDay(utc(2026, 1, 11, 12)).empty());

    // Instances of one rule keep distinct identifiers.
    EXPECT_NE(m_provider->eventsOnDay(utc(2026, 1, 26, 12)).at(0).id, monday[1].id);
}

TEST_F(CalendarFixture, Calendar_ArithmeticExpansionAgreesWithLibical)
{
    const char* rules[] = {"FREQ=DAILY",
                           "FREQ=DAILY;INTERVAL=3",
                           "FREQ=DAILY;COUNT=40",
                           "FREQ=WEEKLY",
                           "FREQ=WEEKLY;BYDAY=MO,WE,FR",
                           "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;WKST=SU",
                           "FREQ=WEEKLY;BYDAY=SA,SU;COUNT=25",
                           "FREQ=WEEKLY;UNTIL=20260301T000000Z",
                           "FREQ=MONTHLY",
                           "FREQ=MONTHLY;INTERVAL=2",
                           "FREQ=MONTHLY;BYMONTHDAY=15",
                           "FREQ=MONTHLY;BYDAY=2TH",
                           "FREQ=MONTHLY;BYDAY=-1FR;COUNT=12",
                           "FREQ=YEARLY",
                           "FREQ=YEARLY;INTERVAL=2;COUNT=4"};
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
                      (allDay ? "" : "DURATION:PT90M\r\n") + "RRULE:" + rules[random() % std::size(rules)] + "\r\n");
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

TEST_F(CalendarFixture, Calendar_HonoursTimeZonesFromTheFileAndTheSystem)
{
    write("zones.ics",
          calendar("BEGIN:VTIMEZONE\r\nTZID:Office Time\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
                   "TZOFFSETFROM:+0900\r\nTZOFFSETTO:+0900\r\nTZNAME:JST\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" +
                   event("UID:tokyo\r\nSUMMARY:東京\r\nDTSTART;TZID=Office Time:20260610T180000\r\n"
                         "DTEND;TZID=Office Time:20260610T190000\r\n") +
                   event("UID:new-york\r\nSUMMARY:NY\r\nDTSTART;TZID=America/New_York:20260610T080000\r\n"
                         "DTEND;TZID=America/New_York:20260610T083000\r\n") +
                   event("UID:floating\r\nSUMMARY:ローカル\r\nDTSTART:20260610T070000\r\nDTEND:20260610T073000\r\n")));

    const auto events = m_provider->eventsOnDay(utc(2026, 6, 10, 12));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].title, "ローカル");
    EXPECT_EQ(events[0].start, utc(2026, 6, 10, 5)); // Berlin summer time
    EXPECT_EQ(events[1].title, "東京");
    EXPECT_EQ(events[1].start, utc(2026, 6, 10, 9));
    EXPECT_EQ(events[2].title, "NY");
    EXPECT_EQ(events[2].start, utc(2026, 6, 10, 12));
    EXPECT_EQ(events[2].end, utc(2026, 6, 10, 12, 30));
}

TEST_F(CalendarFixture, Calendar_DaylightSavingDayKeepsItsTrueLength)
{
    // 2026-03-29 in Berlin lasts 23 hours: 22:00 UTC on the 28th to 22:00 UTC on the 29th.
    write("dst.ics", calendar(event("UID:late\r\nSUMMARY:遅い\r\nDTSTART:20260329T213000Z\r\nDURATION:PT10M\r\n") +
                              event("UID:next\r\nSUMMARY:翌日\r\nDTSTART:20260329T223000Z\r\nDURATION:PT10M\r\n") +
                              event("UID:allday\r\nSUMMARY:終日\r\nDTSTART;VALUE=DATE:20260329\r\n") +
                              event("UID:trip\r\nSUMMARY:出張\r\nDTSTART;VALUE=DATE:20260328\r\n"
                                    "DTEND;VALUE=DATE:20260331\r\n")));

    const auto lateEvening = m_provider->eventsOnDay(utc(2026, 3, 29, 21, 50)); // 23:50 local, still the 29th
    ASSERT_EQ(lateEvening.size(), 3u);
    EXPECT_EQ(lateEvening[0].title, "出張");
    EXPECT_EQ(lateEvening[0].start, utc(2026, 3, 27, 23));
    EXPECT_EQ(lateEvening[0].end, utc(2026, 3, 30, 22));
    EXPECT_EQ(lateEvening[1].title, "終日");
    EXPECT_EQ(lateEvening[1].start, utc(2026, 3, 28, 23));
    EXPECT_EQ(lateEvening[1].end - lateEvening[1].start, 23 * 3600.0);
    EXPECT_EQ(lateEvening[2].title, "遅い");

    const auto nextDay = m_provider->eventsOnDay(utc(2026, 3, 30, 6));
    ASSERT_EQ(nextDay.size(), 2u);
    EXPECT_EQ(nextDay[0].title, "出張");
    EXPECT_EQ(nextDay[1].title, "翌日");
}

TEST_F(CalendarFixture, Calendar_MapsMissingTitlesAndIdentifiersAndSortsStably)
{
    write("a.ics", calendar(event("UID:nine-a\r\nSUMMARY:九時A\r\nDTSTART:20260701T070000Z\r\n") +
                            event("UID:half-eight\r\nDTSTART:20260701T063000Z\r\n") +
                            event("SUMMARY:九時B\r\nDTSTART:20260701T070000Z\r\n") +
                            event("UID:empty\r\nSUMMARY:\r\nDTSTART:20260701T100000Z\r\n")));

    const auto first = m_provider->eventsOnDay(utc(2026, 7, 1, 12));
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[0].title, "(無題の予定)");
    EXPECT_EQ(first[0].id, "half-eight");
    EXPECT_EQ(first[1].title, "九時A");
    EXPECT_EQ(first[2].title, "九時B");
    EXPECT_EQ(first[3].title, "");
    EXPECT_EQ(first[3].start, first[3].end);

    ASSERT_TRUE(Uuid::fromString(first[2].id).has_value());
    const auto second = m_provider->eventsOnDay(utc(2026, 7, 1, 12));
    EXPECT_NE(second[2].id, first[2].id);
}

TEST_F(CalendarFixture, Calendar_SkipsBrokenFilesAndComponentsAndReadsTheRest)
{
    write("garbage.ics", std::string("\x00\xff\xfe not a calendar at all\r\nBEGIN:VEVENT\r\n", 46));
    write("truncated.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:cut\r\nSUMMARY:途中\r\nDTSTART:20260801T09");
    write("mixed.ics", calendar(event("UID:bad-start\r\nSUMMARY:壊れた\r\nDTSTART:notadate\r\n") +
                                event("UID:no-start\r\nSUMMARY:開始なし\r\n") +
                                event("UID:bad-rule\r\nSUMMARY:規則\r\nDTSTART:20260801T100000Z\r\n"
                                      "RRULE:FREQ=SOMETIMES;COUNT=x\r\n") +
                                event("UID:good\r\nSUMMARY:正常\r\nDTSTART:20260801T120000Z\r\n"
                                      "DTEND:20260801T130000Z\r\n") +
                                event("UID:seconds\r\nSUMMARY:毎秒\r\nDTSTART:20200101T000000Z\r\n"
                                      "RRULE:FREQ=SECONDLY\r\n")));

    // Past the size limit a file is left alone whole instead of stalling the app.
    std::string huge = "BEGIN:VCALENDAR\r\n";
    const std::string filler = event("UID:huge\r\nSUMMARY:巨大\r\nDTSTART:20260801T080000Z\r\n");
    while (huge.size() <= ICalendarEventStore::kMaxFileBytes)
        huge += filler;
    write("huge.ics", huge + "END:VCALENDAR\r\n");

    const auto events = m_provider->eventsOnDay(utc(2026, 8, 1, 12));
    std::vector<std::string> titles;
    for (const auto& e : events)
        titles.push_back(e.title);
    EXPECT_NE(std::find(titles.begin(), titles.end(), "正常"), titles.end());
    EXPECT_EQ(std::find(titles.begin(), titles.end(), "開始なし"), titles.end());
    EXPECT_EQ(std::find(titles.begin(), titles.end(), "巨大"), titles.end());
}

TEST_F(CalendarFixture, Calendar_ReadsDesktopCalendarsAndNoticesChangedFiles)
{
    fs::create_directories(m_root / "evolution" / "system");
    std::ofstream(m_root / "evolution" / "system" / "calendar.ics", std::ios::binary)
        << calendar(event("UID:desk\r\nSUMMARY:デスクトップ\r\nDTSTART:20260901T090000Z\r\n"));
    write("mine.ics", calendar(event("UID:v1\r\nSUMMARY:初版\r\nDTSTART:20260901T100000Z\r\n")));

    auto events = m_provider->eventsOnDay(utc(2026, 9, 1, 12));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].title, "デスクトップ");
    EXPECT_EQ(events[1].title, "初版");

    write("mine.ics", calendar(event("UID:v2\r\nSUMMARY:改訂版です\r\nDTSTART:20260901T110000Z\r\n")));
    fs::last_write_time(m_root / "calendars" / "mine.ics",
                        fs::last_write_time(m_root / "calendars" / "mine.ics") + std::chrono::seconds(5));
    events = m_provider->eventsOnDay(utc(2026, 9, 1, 12));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].title, "改訂版です");

    fs::remove(m_root / "calendars" / "mine.ics");
    EXPECT_EQ(m_provider->eventsOnDay(utc(2026, 9, 1, 12)).size(), 1u);
}

TEST_F(CalendarFixture, Calendar_AccessIsTheUsersConsent)
{
    write("a.ics", calendar(event("UID:a\r\nSUMMARY:予定\r\nDTSTART:20261001T090000Z\r\n")));
    auto consent = std::make_shared<ConsentStore>(m_root / "fresh.ini");
    EventKitCalendarProvider provider(consent, m_store);

    EXPECT_EQ(provider.authorizationStatus(), CalendarAuthorizationStatus::undetermined);
    EXPECT_TRUE(provider.eventsOnDay(utc(2026, 10, 1, 12)).empty());
    consent->record(ConsentTopic::calendar, Consent::denied);
    EXPECT_EQ(provider.authorizationStatus(), CalendarAuthorizationStatus::denied);
    EXPECT_TRUE(provider.requestAccess());
    EXPECT_EQ(provider.authorizationStatus(), CalendarAuthorizationStatus::granted);
    EXPECT_EQ(provider.eventsOnDay(utc(2026, 10, 1, 12)).size(), 1u);

    // The record survives in the settings file.
    EXPECT_EQ(ConsentStore(m_root / "fresh.ini").consent(ConsentTopic::calendar), Consent::granted);
    EXPECT_TRUE(provider.eventsOnDay(utc(2026, 10, 2, 12)).empty());
}

TEST_F(CalendarFixture, Calendar_ListsTheFirstTenOccurrencesOfASeriesAndCountsTheRest)
{
    // The whole file is 177 bytes: one event every second from Berlin's midnight on, without end.
    const std::string everySecond = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//probe-ics//EN\r\nBEGIN:VEVENT\r\n"
                                    "UID:every-second\r\nSUMMARY:毎秒\r\nDTSTART:20261206T230000Z\r\n"
                                    "RRULE:FREQ=SECONDLY\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    ASSERT_EQ(everySecond.size(), 177u);
    write("seconds.ics", everySecond);
    write(
        "others.ics",
        calendar(event("UID:minutes\r\nSUMMARY:毎分\r\nDTSTART:20261207T100000Z\r\nRRULE:FREQ=MINUTELY;COUNT=100\r\n") +
                 event("UID:hours\r\nSUMMARY:毎時\r\nDTSTART:20261206T230000Z\r\nDURATION:PT30M\r\n"
                       "RRULE:FREQ=HOURLY\r\nEXDATE:20261207T200000Z\r\n") +
                 event("UID:single\r\nSUMMARY:単発\r\nDTSTART:20261207T120000Z\r\n")));

    const auto events = m_provider->eventsOnDay(utc(2026, 12, 7, 12));
    std::map<std::string, std::vector<CalendarEvent>> bySeries;
    for (const auto& e : events)
        bySeries[e.title].push_back(e);

    ASSERT_EQ(bySeries["毎秒"].size(), 10u);
    EXPECT_EQ(bySeries["毎秒"].front().start, utc(2026, 12, 6, 23));
    EXPECT_EQ(bySeries["毎秒"].back().start, utc(2026, 12, 6, 23) + 9);
    EXPECT_EQ(bySeries["毎秒"].back().moreOccurrences, 86'400u - 10u);
    EXPECT_EQ(bySeries["毎秒"].front().moreOccurrences, 0u);

    // COUNT ends the series inside the day.
    ASSERT_EQ(bySeries["毎分"].size(), 10u);
    EXPECT_EQ(bySeries["毎分"].back().moreOccurrences, 90u);

    // 23:00 the evening before ends after the Berlin midnight, so it counts; the excluded hour does not.
    ASSERT_EQ(bySeries["毎時"].size(), 10u);
    EXPECT_EQ(bySeries["毎時"].front().start, utc(2026, 12, 6, 23));
    EXPECT_EQ(bySeries["毎時"].back().moreOccurrences, 24u - 10u - 1u);

    ASSERT_EQ(bySeries["単発"].size(), 1u);
    EXPECT_EQ(bySeries["単発"].front().moreOccurrences, 0u);
    EXPECT_EQ(events.size(), 31u);
}

TEST_F(CalendarFixture, Calendar_RulesThatNeverMatchLeaveTheOtherEventsTheirTime)
{
    const char* impossible[] = {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30",
                                "FREQ=MONTHLY;BYMONTH=4;BYMONTHDAY=31",
                                "FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30",
                                "FREQ=YEARLY;BYDAY=MO;BYSETPOS=366",
                                "FREQ=MONTHLY;BYSETPOS=366",
                                "FREQ=MONTHLY;BYMONTHDAY=31;BYDAY=1MO",
                                "FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=-31;BYDAY=-1SU"};
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += event("UID:never-" + std::to_string(i) + "\r\nSUMMARY:来ない\r\nDTSTART:20000101T090000Z\r\n" +
                      "RRULE:" + impossible[i % std::size(impossible)] + "\r\n");
    // Rules libical has to iterate, after the impossible ones in the same file: they must still get their turn.
    body += event("UID:last-weekday\r\nSUMMARY:月末の平日\r\nDTSTART:20000131T080000Z\r\n"
                  "RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1\r\n");
    body += event("UID:leap-day\r\nSUMMARY:うるう日\r\nDTSTART:20000229T080000Z\r\n"
                  "RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29\r\n");
    // The last Sunday of March on the 31st: possible, so it must not be taken for one of the rules above.
    body += event("UID:last-sunday\r\nSUMMARY:三月最後の日曜\r\nDTSTART:20000331T080000Z\r\n"
                  "RRULE:FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=31;BYDAY=-1SU\r\n");
    write("never.ics", calendar(body));

    const auto monday = m_provider->eventsOnDay(utc(2026, 11, 30, 12));
    ASSERT_EQ(monday.size(), 1u);
    EXPECT_EQ(monday[0].title, "月末の平日");
    EXPECT_EQ(monday[0].start, utc(2026, 11, 30, 8));

    const auto leapDay = m_provider->eventsOnDay(utc(2032, 2, 29, 12));
    ASSERT_EQ(leapDay.size(), 1u);
    EXPECT_EQ(leapDay[0].title, "うるう日");
    EXPECT_TRUE(m_provider->eventsOnDay(utc(2026, 2, 28, 12)).empty());
    const auto lastSunday = m_provider->eventsOnDay(utc(2024, 3, 31, 12));
    ASSERT_EQ(lastSunday.size(), 1u);
    EXPECT_EQ(lastSunday[0].title, "三月最後の日曜");

    // The first start is an occurrence of its own, whatever the rule says.
    const auto firstDay = m_provider->eventsOnDay(utc(2000, 1, 1, 12));
    EXPECT_EQ(firstDay.size(), 200u);
}

TEST_F(CalendarFixture, Calendar_KeepsLibicalsWarningsOffStandardError)
{
    // libical warns on stderr about an END without its BEGIN.
    write("stray.ics",
          "END:VEVENT\r\n" + calendar(event("UID:ok\r\nSUMMARY:残る予定\r\nDTSTART:20261207T090000Z\r\n")));

    testing::internal::CaptureStderr();
    const auto events = m_provider->eventsOnDay(utc(2026, 12, 7, 12));
    const std::string printed = testing::internal::GetCapturedStderr();

    EXPECT_EQ(printed, "");
    EXPECT_NE(m_store->libraryMessages().find("END before BEGIN"), std::string::npos) << m_store->libraryMessages();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].title, "残る予定");
}

} // namespace
} // namespace tc
