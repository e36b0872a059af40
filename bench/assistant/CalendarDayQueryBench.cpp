// The day query over a large calendar file: 5,000 events, most of them recurring, in several time zones.
// Writes calendar-day-query.json into the results folder; the target is a warm query within 50 ms. A second file
// holds what once froze the window: an event every second, and rules that can never match.
#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string makeCalendar(int events, double recurringShare, std::mt19937& random)
{
    const char* zones[] = {"Asia/Tokyo", "Europe/Berlin", "America/New_York", "UTC"};
    const char* rules[] = {"FREQ=DAILY",
                           "FREQ=WEEKLY;BYDAY=MO,WE,FR",
                           "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU",
                           "FREQ=MONTHLY;BYMONTHDAY=15",
                           "FREQ=MONTHLY;BYDAY=2TH",
                           "FREQ=YEARLY",
                           "FREQ=DAILY;COUNT=400",
                           "FREQ=WEEKLY;UNTIL=20271231T000000Z"};
    std::uniform_int_distribution<int> day(0, 3 * 365), hour(7, 20), minute(0, 3), zone(0, 3), rule(0, 7);
    std::uniform_real_distribution<double> chance(0, 1);
    std::ostringstream text;
    text << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n";
    for (int i = 0; i < events; ++i) {
        std::tm start{};
        start.tm_year = 2023 - 1900;
        start.tm_mon = 0;
        start.tm_mday = 1 + day(random);
        start.tm_hour = hour(random);
        start.tm_min = 15 * minute(random);
        timegm(&start);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &start);
        const char* tz = zones[zone(random)];
        text << "BEGIN:VEVENT\r\nUID:bench-" << i << "\r\nSUMMARY:予定 " << i << "\r\nDTSTART;TZID=" << tz << ":"
             << stamp << "\r\nDURATION:PT45M\r\n";
        if (chance(random) < recurringShare) {
            text << "RRULE:" << rules[rule(random)] << "\r\n";
            if (chance(random) < 0.3) text << "EXDATE;TZID=" << tz << ":" << stamp << "\r\n";
        }
        text << "END:VEVENT\r\n";
    }
    text << "END:VCALENDAR\r\n";
    return text.str();
}

// What a probe left in a calendar folder: an event every second from midnight today, and 200 events whose rules
// can never match, in the four forms libical searches for centuries.
std::string pathologicalCalendar(const std::tm& today)
{
    char midnight[32];
    std::strftime(midnight, sizeof midnight, "%Y%m%dT000000", &today);
    const char* never[] = {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", "FREQ=MONTHLY;BYMONTH=4;BYMONTHDAY=31",
                           "FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30", "FREQ=YEARLY;BYDAY=MO;BYSETPOS=366"};
    std::ostringstream text;
    text << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//probe//EN\r\nBEGIN:VEVENT\r\nUID:every-second\r\n"
         << "SUMMARY:毎秒\r\nDTSTART:" << midnight << "\r\nRRULE:FREQ=SECONDLY\r\nEND:VEVENT\r\n";
    for (int i = 0; i < 200; ++i)
        text << "BEGIN:VEVENT\r\nUID:never-" << i
             << "\r\nSUMMARY:来ない\r\nDTSTART:20000101T090000Z\r\nRRULE:" << never[i % 4] << "\r\nEND:VEVENT\r\n";
    text << "END:VCALENDAR\r\n";
    return text.str();
}

struct Figures {
    double coldMs = 0;
    double warmMedianMs = 0;
    double warmMaxMs = 0;
    std::size_t eventsOnDay = 0;
    // Occurrences counted but not listed ("ほか N 件").
    std::size_t moreOccurrences = 0;
};

Figures measure(const fs::path& folder, const std::string& calendar, tc::Date day)
{
    fs::create_directories(folder);
    std::ofstream(folder / "bench.ics", std::ios::binary) << calendar;
    auto consent = std::make_shared<tc::ConsentStore>(folder / "settings.ini");
    consent->record(tc::ConsentTopic::calendar, tc::Consent::granted);
    auto store = std::make_shared<tc::ICalendarEventStore>(tc::ICalendarEventStore::Locations{folder, std::nullopt});
    tc::EventKitCalendarProvider provider(consent, store);

    Figures figures;
    auto started = Clock::now();
    const auto events = provider.eventsOnDay(day);
    figures.coldMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    figures.eventsOnDay = events.size();
    for (const auto& event : events)
        figures.moreOccurrences += event.moreOccurrences;

    std::vector<double> warm;
    for (int i = 0; i < 30; ++i) {
        started = Clock::now();
        provider.eventsOnDay(day + 86400.0 * (i % 10));
        warm.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    }
    std::sort(warm.begin(), warm.end());
    figures.warmMedianMs = warm[warm.size() / 2];
    figures.warmMaxMs = warm.back();
    return figures;
}

} // namespace

int main()
{
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    std::mt19937 random(20260615);
    const auto folder = fs::temp_directory_path() / ("tc-calendar-bench-" + std::to_string(::getpid()));

    const tc::Date june15 = tc::dateFromUnixSeconds(1781506800.0); // 2026-06-15 noon in Tokyo
    const auto recurring = measure(folder / "recurring", makeCalendar(5000, 0.7, random), june15);
    // Baseline: the same number of single events, so the ratio shows what expansion costs.
    const auto single = measure(folder / "single", makeCalendar(5000, 0.0, random), june15);
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    // Queried from the start of that day on, so warm queries also see the days after it.
    const auto pathological = measure(folder / "pathological", pathologicalCalendar(today),
                                      tc::dateFromUnixSeconds(static_cast<double>(now)));
    std::error_code ignored;
    fs::remove_all(folder, ignored);

    const nlohmann::ordered_json result{
        {"benchmark", "calendar-day-query"},
        {"loadAverage1min", tc::bench::loadAverage()},
        {"events", 5000},
        {"recurringShare", 0.7},
        {"coldQueryMs", recurring.coldMs},
        {"warmQueryMedianMs", recurring.warmMedianMs},
        {"warmQueryMaxMs", recurring.warmMaxMs},
        {"eventsOnDay", recurring.eventsOnDay},
        {"baselineSingleEventsWarmMedianMs", single.warmMedianMs},
        {"ratioToSingleEvents", single.warmMedianMs > 0 ? recurring.warmMedianMs / single.warmMedianMs : 0.0},
        {"targetMs", 50},
        {"meetsTarget", recurring.warmMaxMs <= 50.0},
        {"pathological",
         {{"file", "FREQ=SECONDLY from midnight today, plus 200 rules that never match, starting in 2000"},
          {"coldQueryMs", pathological.coldMs},
          {"warmQueryMedianMs", pathological.warmMedianMs},
          {"warmQueryMaxMs", pathological.warmMaxMs},
          {"rowsOnDay", pathological.eventsOnDay},
          {"moreOccurrencesCounted", pathological.moreOccurrences},
          {"ratioToSingleEvents", single.warmMedianMs > 0 ? pathological.warmMedianMs / single.warmMedianMs : 0.0},
          {"meetsTarget", pathological.coldMs <= 50.0 && pathological.warmMaxMs <= 50.0}}},
    };
    const fs::path out = fs::path(TC_BENCH_RESULTS_DIR) / "calendar-day-query.json";
    fs::create_directories(out.parent_path());
    std::ofstream(out) << result.dump(2) << '\n';
    std::printf("%s\n", result.dump(2).c_str());
    return 0;
}
