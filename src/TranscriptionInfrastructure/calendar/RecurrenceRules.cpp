#include "TranscriptionInfrastructure/calendar/RecurrenceRules.h"

#include <algorithm>
#include <cstdlib>

namespace tc {

namespace {

int listLength(const short* list, int capacity)
{
    int length = 0;
    while (length < capacity && list[length] != ICAL_RECURRENCE_ARRAY_MAX)
        ++length;
    return length;
}

} // namespace

long long RecurrenceRules::daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void RecurrenceRules::civilFromDays(long long days, int& year, int& month, int& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    year = static_cast<int>(static_cast<long long>(yearOfEra) + era * 400 + (month <= 2));
}

int RecurrenceRules::daysInMonth(int year, int month)
{
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : lengths[month - 1];
}

int RecurrenceRules::weekdayOf(long long days)
{
    return static_cast<int>(((days % 7) + 11) % 7);
}

bool RecurrenceRules::listIsEmpty(const short* list)
{
    return list[0] == ICAL_RECURRENCE_ARRAY_MAX;
}

long long RecurrenceRules::nthWeekdayOfMonth(int year, int month, int position, int weekday)
{
    const long long firstDay = daysFromCivil(year, static_cast<unsigned>(month), 1);
    if (position > 0) return firstDay + (weekday - weekdayOf(firstDay) + 7) % 7 + 7LL * (position - 1);
    const long long lastDay = firstDay + daysInMonth(year, month) - 1;
    return lastDay - (weekdayOf(lastDay) - weekday + 7) % 7;
}

namespace {

using SimpleRule = RecurrenceRules::SimpleRule;

// BYDAY without positions as a weekday mask; a DTSTART off the days is only allowed when the rule is not counted.
std::optional<SimpleRule> simplifyWeekly(const icalrecurrencetype& rule, SimpleRule simple, long long first,
                                         bool synchronised)
{
    if (!RecurrenceRules::listIsEmpty(rule.by_month_day)) return std::nullopt;
    for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        if (icalrecurrencetype_day_position(rule.by_day[i]) != 0) return std::nullopt;
        simple.weekdays |= 1u << (static_cast<int>(icalrecurrencetype_day_day_of_week(rule.by_day[i])) - 1);
    }
    const unsigned startDay = 1u << RecurrenceRules::weekdayOf(first);
    if (simple.weekdays == 0) simple.weekdays = startDay;
    if (!(simple.weekdays & startDay) && !synchronised) return std::nullopt;
    simple.weekStart = rule.week_start == ICAL_NO_WEEKDAY ? 1 : static_cast<int>(rule.week_start) - 1;
    return simple;
}

// One day of the month from the 1st to the 28th, or one weekday at position 1..4 or last.
std::optional<SimpleRule> simplifyMonthly(const icalrecurrencetype& rule, const icaltimetype& start, SimpleRule simple,
                                          long long first, bool synchronised)
{
    if (!RecurrenceRules::listIsEmpty(rule.by_month_day)) {
        if (!RecurrenceRules::listIsEmpty(rule.by_day) || rule.by_month_day[1] != ICAL_RECURRENCE_ARRAY_MAX ||
            rule.by_month_day[0] < 1 || rule.by_month_day[0] > 28)
            return std::nullopt;
        if (rule.by_month_day[0] != start.day && !synchronised) return std::nullopt;
        simple.monthDay = rule.by_month_day[0];
        return simple;
    }
    if (!RecurrenceRules::listIsEmpty(rule.by_day)) {
        if (rule.by_day[1] != ICAL_RECURRENCE_ARRAY_MAX) return std::nullopt;
        simple.nthPosition = icalrecurrencetype_day_position(rule.by_day[0]);
        simple.nthWeekday = static_cast<int>(icalrecurrencetype_day_day_of_week(rule.by_day[0])) - 1;
        if (simple.nthPosition == 0 || simple.nthPosition > 4 || simple.nthPosition < -1) return std::nullopt;
        const long long nth =
            RecurrenceRules::nthWeekdayOfMonth(start.year, start.month, simple.nthPosition, simple.nthWeekday);
        if (nth != first && !synchronised) return std::nullopt;
        return simple;
    }
    // Months without that day are skipped, which breaks the arithmetic of COUNT.
    if (rule.count > 0 && start.day > 28) return std::nullopt;
    return simple;
}

} // namespace

std::optional<RecurrenceRules::SimpleRule> RecurrenceRules::simplify(const icalrecurrencetype& rule,
                                                                     const icaltimetype& start)
{
    if (rule.rscale && *rule.rscale) return std::nullopt;
    if (!listIsEmpty(rule.by_second) || !listIsEmpty(rule.by_minute) || !listIsEmpty(rule.by_hour) ||
        !listIsEmpty(rule.by_year_day) || !listIsEmpty(rule.by_week_no) || !listIsEmpty(rule.by_month) ||
        !listIsEmpty(rule.by_set_pos))
        return std::nullopt;
    SimpleRule simple;
    simple.freq = rule.freq;
    simple.interval = rule.interval > 0 ? rule.interval : 1;
    simple.count = rule.count;
    if (!icaltime_is_null_time(rule.until)) simple.until = rule.until;
    simple.monthDay = start.day;
    // A DTSTART off the rule is an instance of its own (added by the caller); it shifts COUNT, so those rules
    // are left to libical.
    const bool synchronised = rule.count == 0;
    const long long first =
        daysFromCivil(start.year, static_cast<unsigned>(start.month), static_cast<unsigned>(start.day));
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        if (!listIsEmpty(rule.by_day) || !listIsEmpty(rule.by_month_day)) return std::nullopt;
        return simple;
    case ICAL_WEEKLY_RECURRENCE: return simplifyWeekly(rule, simple, first, synchronised);
    case ICAL_MONTHLY_RECURRENCE: return simplifyMonthly(rule, start, simple, first, synchronised);
    case ICAL_YEARLY_RECURRENCE:
        if (!listIsEmpty(rule.by_day) || !listIsEmpty(rule.by_month_day)) return std::nullopt;
        if (rule.count > 0 && start.month == 2 && start.day == 29) return std::nullopt;
        return simple;
    default: return std::nullopt;
    }
}

namespace {

// False when no listed month has any of the listed days of the month (BYMONTH=2;BYMONTHDAY=30).
bool someListedMonthHasAListedDay(const icalrecurrencetype& rule, int months, int monthDays)
{
    static constexpr int longestMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 0; m < months; ++m) {
        const int month = rule.by_month[m];
        if (month < 1 || month > 12) continue;
        for (int d = 0; d < monthDays; ++d) {
            const int day = rule.by_month_day[d];
            if (day != 0 && std::abs(day) <= longestMonth[month - 1]) return true;
        }
    }
    return false;
}

// False when every positioned weekday falls in a week of the month that holds none of the listed days: the n-th
// weekday of a month falls in a fixed week of it (BYDAY=1MO;BYMONTHDAY=31).
bool someWeekdayMeetsAListedDay(const icalrecurrencetype& rule, int weekdays, int monthDays)
{
    for (int w = 0; w < weekdays; ++w) {
        const int position = icalrecurrencetype_day_position(rule.by_day[w]);
        // Days of the month the weekday can fall on, over months of 28 to 31 days.
        int first = 1;
        int last = 31;
        if (position > 0) {
            first = 7 * position - 6;
            last = 7 * position;
        } else if (position < 0) {
            first = 29 + 7 * position;
            last = 38 + 7 * position;
        }
        for (int d = 0; d < monthDays; ++d) {
            const int day = rule.by_month_day[d];
            const int lo = day > 0 ? day : 29 + day;
            const int hi = day > 0 ? day : 32 + day;
            if (day != 0 && lo <= last && hi >= first) return true;
        }
    }
    return false;
}

// Days a listed weekday contributes to one period: one for a positioned weekday, else every one of them.
long long daysByWeekday(const icalrecurrencetype& rule, int weekdays, long long positioned, long long unpositioned)
{
    long long days = 0;
    for (int i = 0; i < weekdays; ++i)
        days += icalrecurrencetype_day_position(rule.by_day[i]) != 0 ? positioned : unpositioned;
    return days;
}

// An upper bound on the days in one period's set.
long long daysInPeriodAtMost(const icalrecurrencetype& rule, int months, int monthDays, int weekdays)
{
    const int yearDays = listLength(rule.by_year_day, ICAL_BY_YEARDAY_SIZE);
    const int weekNumbers = listLength(rule.by_week_no, ICAL_BY_WEEKNO_SIZE);
    long long days = 1;
    switch (rule.freq) {
    case ICAL_YEARLY_RECURRENCE: {
        const bool expanded = yearDays || weekNumbers || monthDays || weekdays;
        days = expanded ? 366 : std::max(months, 1);
        if (yearDays) days = std::min<long long>(days, yearDays);
        if (weekNumbers) days = std::min<long long>(days, 7LL * weekNumbers);
        if (monthDays) days = std::min<long long>(days, 1LL * monthDays * (months ? months : 12));
        if (weekdays) days = std::min(days, daysByWeekday(rule, weekdays, months ? months : 1, 53));
        break;
    }
    case ICAL_MONTHLY_RECURRENCE:
        days = monthDays || weekdays ? 31 : 1;
        if (monthDays) days = std::min<long long>(days, monthDays);
        if (weekdays) days = std::min(days, daysByWeekday(rule, weekdays, 1, 5));
        break;
    case ICAL_WEEKLY_RECURRENCE: days = weekdays ? std::min(weekdays, 7) : 1; break;
    default: days = 1; break;
    }
    return days;
}

// Times of day each day of the set holds: a BY part finer than the frequency multiplies them.
long long timesPerDay(const icalrecurrencetype& rule)
{
    long long times = 1;
    const int hours = listLength(rule.by_hour, ICAL_BY_HOUR_SIZE);
    const int minutes = listLength(rule.by_minute, ICAL_BY_MINUTE_SIZE);
    const int seconds = listLength(rule.by_second, ICAL_BY_SECOND_SIZE);
    // Frequencies run from SECONDLY (0) to YEARLY (6).
    if (rule.freq >= ICAL_DAILY_RECURRENCE) times *= std::max(hours, 1);
    if (rule.freq >= ICAL_HOURLY_RECURRENCE) times *= std::max(minutes, 1);
    if (rule.freq >= ICAL_MINUTELY_RECURRENCE) times *= std::max(seconds, 1);
    return times;
}

} // namespace

bool RecurrenceRules::neverMatches(const icalrecurrencetype& rule)
{
    if (rule.rscale && *rule.rscale) return false;
    const int months = listLength(rule.by_month, ICAL_BY_MONTH_SIZE);
    const int monthDays = listLength(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    if (months > 0 && monthDays > 0 && !someListedMonthHasAListedDay(rule, months, monthDays)) return true;

    const int weekdays = listLength(rule.by_day, ICAL_BY_DAY_SIZE);
    const bool weekdaysWithinMonth =
        rule.freq == ICAL_MONTHLY_RECURRENCE || (rule.freq == ICAL_YEARLY_RECURRENCE && months > 0);
    if (monthDays > 0 && weekdays > 0 && weekdaysWithinMonth && !someWeekdayMeetsAListedDay(rule, weekdays, monthDays))
        return true;

    // A BYSETPOS past the end of every period's set (the 366th of a set of 53) picks nothing.
    const int setPositions = listLength(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
    if (setPositions == 0) return false;
    const long long setSize = daysInPeriodAtMost(rule, months, monthDays, weekdays) * timesPerDay(rule);
    for (int i = 0; i < setPositions; ++i)
        if (rule.by_set_pos[i] != 0 && std::abs(rule.by_set_pos[i]) <= setSize) return false;
    return true;
}

// Rules finer than a day without BY parts step by a fixed number of seconds, so a day of FREQ=SECONDLY is counted,
// not walked. Steps are in elapsed time; libical steps wall-clock time, which differs only across a clock change.
std::optional<double> RecurrenceRules::fixedStepSeconds(const icalrecurrencetype& rule)
{
    if (rule.freq > ICAL_HOURLY_RECURRENCE || (rule.rscale && *rule.rscale)) return std::nullopt;
    if (!listIsEmpty(rule.by_second) || !listIsEmpty(rule.by_minute) || !listIsEmpty(rule.by_hour) ||
        !listIsEmpty(rule.by_day) || !listIsEmpty(rule.by_month_day) || !listIsEmpty(rule.by_year_day) ||
        !listIsEmpty(rule.by_week_no) || !listIsEmpty(rule.by_month) || !listIsEmpty(rule.by_set_pos))
        return std::nullopt;
    const double unit = rule.freq == ICAL_SECONDLY_RECURRENCE   ? 1.0
                        : rule.freq == ICAL_MINUTELY_RECURRENCE ? 60.0
                                                                : 3600.0;
    return unit * std::max(rule.interval, static_cast<short>(1));
}

} // namespace tc
