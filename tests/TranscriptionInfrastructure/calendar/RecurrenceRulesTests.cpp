#include "TranscriptionInfrastructure/calendar/RecurrenceRules.h"

#include <gtest/gtest.h>

#include <libical/ical.h>

#include <memory>
#include <string>

namespace tc {
namespace {

icalrecurrencetype rule(const char* text)
{
    return icalrecurrencetype_from_string(text);
}

// Whether libical's own iterator finds an instance other than DTSTART (which it may give whatever the rule) within
// `years` of 2026-01-01.
bool libicalFindsAnInstance(const char* text, int years)
{
    struct Free {
        void operator()(icalrecur_iterator* iterator) const { icalrecur_iterator_free(iterator); }
    };
    const auto start = icaltime_from_string("20260101T090000Z");
    std::unique_ptr<icalrecur_iterator, Free> iterator(icalrecur_iterator_new(rule(text), start));
    if (!iterator) return false;
    for (int i = 0; i < 3; ++i) {
        const auto next = icalrecur_iterator_next(iterator.get());
        if (icaltime_is_null_time(next) || next.year >= 2026 + years) return false;
        if (icaltime_compare(next, start) != 0) return true;
    }
    return false;
}

TEST(RecurrenceRules, RulesNoDateSatisfiesNeverMatch)
{
    for (const char* impossible : {
             "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30",       // the 30th of February
             "FREQ=YEARLY;BYMONTH=4,6;BYMONTHDAY=31,-31", // no 31st in April or June, from either end
             "FREQ=MONTHLY;BYDAY=1MO;BYMONTHDAY=31",      // a first Monday falls on the 1st to the 7th
             "FREQ=MONTHLY;BYDAY=-1FR;BYMONTHDAY=1,2",    // a last Friday on the 22nd to the 31st
             "FREQ=YEARLY;BYMONTH=3;BYDAY=2TU;BYMONTHDAY=20",
             "FREQ=WEEKLY;BYDAY=MO,TU;BYSETPOS=3", // the third of a set of two
             "FREQ=YEARLY;BYDAY=MO;BYSETPOS=-54",  // a year has at most 53 Mondays
             "FREQ=DAILY;BYHOUR=9,17;BYSETPOS=3",
             "FREQ=MONTHLY;BYMONTHDAY=1,15;BYSETPOS=3",
         })
        EXPECT_TRUE(RecurrenceRules::neverMatches(rule(impossible))) << impossible;

    // Each of these is one day away from an impossible rule; libical finds their instances.
    for (const char* possible : {
             "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29",
             "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=-29",
             "FREQ=YEARLY;BYMONTH=4,5;BYMONTHDAY=31",
             "FREQ=MONTHLY;BYDAY=1MO;BYMONTHDAY=7",
             "FREQ=MONTHLY;BYDAY=-1FR;BYMONTHDAY=22",
             "FREQ=MONTHLY;BYDAY=MO;BYMONTHDAY=1", // a Monday without a position, on any day of the month
             "FREQ=MONTHLY;BYDAY=MO;BYMONTHDAY=31",
             "FREQ=WEEKLY;BYDAY=MO,TU;BYSETPOS=-2",
             "FREQ=YEARLY;BYDAY=MO;BYSETPOS=53",
             "FREQ=DAILY;BYHOUR=9,17;BYSETPOS=2",
             "FREQ=MONTHLY;BYMONTHDAY=1,15;BYSETPOS=2",
             "FREQ=DAILY",
         }) {
        EXPECT_FALSE(RecurrenceRules::neverMatches(rule(possible))) << possible;
        EXPECT_TRUE(libicalFindsAnInstance(possible, 30)) << possible;
    }
    // Rules in another calendar system are left to libical.
    EXPECT_FALSE(RecurrenceRules::neverMatches(rule("RSCALE=GREGORIAN;FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30")));
}

TEST(RecurrenceRules, OnlyRulesWhoseArithmeticKeepsCountAreSimplified)
{
    const auto at = [](const char* text) { return icaltime_from_string(text); };
    const auto weekly = RecurrenceRules::simplify(rule("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,FR;WKST=SU"),
                                                  at("20260105T090000")); // a Monday
    ASSERT_TRUE(weekly);
    EXPECT_EQ(weekly->interval, 2);
    EXPECT_EQ(weekly->weekdays, (1u << 1) | (1u << 5));
    EXPECT_EQ(weekly->weekStart, 0);

    const auto lastFriday = RecurrenceRules::simplify(rule("FREQ=MONTHLY;BYDAY=-1FR"), at("20260130T090000"));
    ASSERT_TRUE(lastFriday);
    EXPECT_EQ(lastFriday->nthPosition, -1);
    EXPECT_EQ(lastFriday->nthWeekday, 5);
    // A counted rule whose DTSTART is on its day keeps the arithmetic.
    const auto tenth = RecurrenceRules::simplify(rule("FREQ=MONTHLY;BYMONTHDAY=10;COUNT=3"), at("20260110T090000"));
    ASSERT_TRUE(tenth);
    EXPECT_EQ(tenth->monthDay, 10);

    // Each of these goes to libical: a day counted from the month's end, a fifth weekday, a COUNT a skipped
    // month or year would shift, a DTSTART off a counted rule, and BY parts the arithmetic does not know.
    for (const auto& [text, start] : std::initializer_list<std::pair<const char*, const char*>>{
             {"FREQ=MONTHLY;BYMONTHDAY=-1", "20260131T090000"},
             {"FREQ=MONTHLY;BYDAY=5MO", "20260601T090000"},
             {"FREQ=MONTHLY;COUNT=5", "20260131T090000"},
             {"FREQ=YEARLY;COUNT=5", "20240229T090000"},
             {"FREQ=WEEKLY;BYDAY=TU;COUNT=3", "20260105T090000"},
             {"FREQ=MONTHLY;BYMONTHDAY=10;COUNT=3", "20260105T090000"},
             {"FREQ=YEARLY;BYMONTH=3", "20260105T090000"},
             {"FREQ=DAILY;BYHOUR=9", "20260105T090000"},
             {"FREQ=HOURLY", "20260105T090000"},
         })
        EXPECT_FALSE(RecurrenceRules::simplify(rule(text), at(start))) << text;
    // Without COUNT a DTSTART off the rule is only an extra instance, and the arithmetic holds.
    EXPECT_TRUE(RecurrenceRules::simplify(rule("FREQ=WEEKLY;BYDAY=TU"), at("20260105T090000")));
}

TEST(RecurrenceRules, FixedStepsAreForFineRulesWithoutByParts)
{
    EXPECT_EQ(RecurrenceRules::fixedStepSeconds(rule("FREQ=SECONDLY")), 1.0);
    EXPECT_EQ(RecurrenceRules::fixedStepSeconds(rule("FREQ=MINUTELY;INTERVAL=15")), 900.0);
    EXPECT_EQ(RecurrenceRules::fixedStepSeconds(rule("FREQ=HOURLY;INTERVAL=32767")), 3600.0 * 32767);
    EXPECT_FALSE(RecurrenceRules::fixedStepSeconds(rule("FREQ=HOURLY;BYMINUTE=0,30")));
    EXPECT_FALSE(RecurrenceRules::fixedStepSeconds(rule("FREQ=DAILY")));
}

TEST(RecurrenceRules, CivilDatesRoundTripAcrossLeapYearsAndEras)
{
    for (long long days = -800'000; days <= 800'000; days += 37) {
        int year = 0, month = 0, day = 0;
        RecurrenceRules::civilFromDays(days, year, month, day);
        ASSERT_GE(day, 1);
        ASSERT_LE(day, RecurrenceRules::daysInMonth(year, month));
        ASSERT_EQ(RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)), days);
    }
    EXPECT_EQ(RecurrenceRules::daysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(RecurrenceRules::weekdayOf(0), 4); // a Thursday
    EXPECT_EQ(RecurrenceRules::daysInMonth(2024, 2), 29);
    EXPECT_EQ(RecurrenceRules::daysInMonth(2100, 2), 28);
    EXPECT_EQ(RecurrenceRules::daysInMonth(2000, 2), 29);
    // The last Friday of January 2026 is the 30th, the second Tuesday the 13th.
    EXPECT_EQ(RecurrenceRules::nthWeekdayOfMonth(2026, 1, -1, 5), RecurrenceRules::daysFromCivil(2026, 1, 30));
    EXPECT_EQ(RecurrenceRules::nthWeekdayOfMonth(2026, 1, 2, 2), RecurrenceRules::daysFromCivil(2026, 1, 13));
}

} // namespace
} // namespace tc
