#pragma once

#include <libical/ical.h>

#include <optional>

namespace tc {

// What a recurrence rule says before any expansion: whether date arithmetic can expand it, whether it can ever
// match, whether it steps by a fixed number of seconds; and the civil-date arithmetic used to expand rules.
class RecurrenceRules {
public:
    // The common rules, expanded by date arithmetic instead of libical's calendar-backed iterator, which costs
    // microseconds per step and must walk every instance of a COUNT rule from the start.
    struct SimpleRule {
        icalrecurrencetype_frequency freq = ICAL_NO_RECURRENCE;
        long long interval = 1;
        long long count = 0;
        std::optional<icaltimetype> until;
        // Bit n set: weekday n (0 = Sunday) is in BYDAY; weekly rules only.
        unsigned weekdays = 0;
        int weekStart = 1;
        // Monthly rules by weekday: position 1..4 or -1 (last), weekday 0 = Sunday.
        int nthPosition = 0;
        int nthWeekday = 0;
        // Monthly and yearly rules: the day of the month.
        int monthDay = 1;
    };

    // The arithmetic form of a rule starting at `start`, or nothing when only libical can expand it.
    static std::optional<SimpleRule> simplify(const icalrecurrencetype& rule, const icaltimetype& start);
    // True for rules no date can satisfy (the 30th of February, a first Monday on the 31st, the 366th of a set
    // of 53); libical searches centuries for their first instance, up to a second per rule.
    static bool neverMatches(const icalrecurrencetype& rule);
    // The step of a rule finer than a day without BY parts, in seconds; nothing for any other rule.
    static std::optional<double> fixedStepSeconds(const icalrecurrencetype& rule);

    // Days since 1970-01-01 of a civil date (proleptic Gregorian).
    static long long daysFromCivil(long long year, unsigned month, unsigned day);
    // The civil date of a day number counted as daysFromCivil counts.
    static void civilFromDays(long long days, int& year, int& month, int& day);
    // Days in the month, leap years included.
    static int daysInMonth(int year, int month);
    // 0 = Sunday ... 6 = Saturday.
    static int weekdayOf(long long days);
    // The day number of the position-th (1..4, or -1 for last) weekday (0 = Sunday) of the month.
    static long long nthWeekdayOfMonth(int year, int month, int position, int weekday);
    // True when a BY list of libical's rule holds no value.
    static bool listIsEmpty(const short* list);
};

} // namespace tc
