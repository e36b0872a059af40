#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <libical/ical.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace tc {

namespace {

constexpr double kDay = 86400.0;
// libical iterator steps one file may spend on one query, all rules together.
constexpr long long kMaxRecurrenceStepsPerFile = 200'000;

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
struct IteratorDeleter {
    void operator()(icalrecur_iterator* iterator) const { icalrecur_iterator_free(iterator); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;
using IteratorPtr = std::unique_ptr<icalrecur_iterator, IteratorDeleter>;

// A time as the file gives it: wall-clock fields plus how to read them.
struct FileTime {
    icaltimetype value = icaltime_null_time();
    // Null for floating times and dates: those are local to the process's time zone.
    icaltimezone* zone = nullptr;
};

double localUnix(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return static_cast<double>(std::mktime(&fields));
}

double unixOf(const FileTime& time)
{
    const auto& t = time.value;
    if (t.is_date) return localUnix(t.year, t.month, t.day, 0, 0, 0);
    if (icaltime_is_utc(t)) return static_cast<double>(icaltime_as_timet(t));
    if (time.zone) return static_cast<double>(icaltime_as_timet_with_zone(t, time.zone));
    return localUnix(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// The wall-clock fields in the time's own zone at the given instant.
icaltimetype wallTimeAt(double unix, const FileTime& like)
{
    const auto seconds = static_cast<std::time_t>(std::floor(unix));
    if (icaltime_is_utc(like.value) || like.zone) {
        auto* zone = like.zone ? like.zone : icaltimezone_get_utc_timezone();
        auto result = icaltime_from_timet_with_zone(seconds, like.value.is_date, zone);
        result.zone = like.value.zone;
        return result;
    }
    std::tm fields{};
    localtime_r(&seconds, &fields);
    auto result = like.value;
    result.year = fields.tm_year + 1900;
    result.month = fields.tm_mon + 1;
    result.day = fields.tm_mday;
    if (!result.is_date) {
        result.hour = fields.tm_hour;
        result.minute = fields.tm_min;
        result.second = fields.tm_sec;
    }
    return result;
}

std::string utcText(double unix)
{
    const auto seconds = static_cast<std::time_t>(std::floor(unix));
    std::tm fields{};
    gmtime_r(&seconds, &fields);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &fields);
    return buffer;
}

bool usable(const icaltimetype& t)
{
    return !icaltime_is_null_time(t) && icaltime_is_valid_time(t) && t.year > 0 && t.month >= 1 && t.month <= 12 &&
           t.day >= 1 && t.day <= 31;
}

icaltimezone* zoneFor(icalproperty* property, icalcomponent* calendar, const icaltimetype& value)
{
    if (value.is_date || icaltime_is_utc(value)) return nullptr;
    auto* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    if (!parameter) return nullptr;
    const char* tzid = icalparameter_get_tzid(parameter);
    if (!tzid || !*tzid) return nullptr;
    if (calendar) {
        if (auto* zone = icalcomponent_get_timezone(calendar, tzid)) return zone;
    }
    if (auto* zone = icaltimezone_get_builtin_timezone(tzid)) return zone;
    // An unknown zone name: read the time as floating rather than drop the event.
    return icaltimezone_get_builtin_timezone_from_tzid(tzid);
}

std::optional<FileTime> readTime(icalproperty* property, icalcomponent* calendar)
{
    if (!property) return std::nullopt;
    auto* value = icalproperty_get_value(property);
    if (!value) return std::nullopt;
    const auto kind = icalvalue_isa(value);
    if (kind != ICAL_DATETIME_VALUE && kind != ICAL_DATE_VALUE) return std::nullopt;
    FileTime time;
    time.value = icalvalue_get_datetime(value);
    if (!usable(time.value)) return std::nullopt;
    time.zone = zoneFor(property, calendar, time.value);
    return time;
}

// libical drops a property whose value is empty and leaves an error note in its place; an empty title is
// still a title the user gave, so the note is read back.
bool wasEmptyInFile(icalcomponent* event, icalproperty_kind kind)
{
    const std::string note = std::string("No value for ") + icalproperty_kind_to_string(kind) + " property";
    for (auto* error = icalcomponent_get_first_property(event, ICAL_XLICERROR_PROPERTY); error;
         error = icalcomponent_get_next_property(event, ICAL_XLICERROR_PROPERTY)) {
        const char* text = icalproperty_get_xlicerror(error);
        if (text && std::string_view(text).starts_with(note)) return true;
    }
    return false;
}

std::optional<std::string> textProperty(icalcomponent* event, icalproperty_kind kind)
{
    auto* property = icalcomponent_get_first_property(event, kind);
    if (!property) return wasEmptyInFile(event, kind) ? std::optional<std::string>("") : std::nullopt;
    auto* value = icalproperty_get_value(property);
    if (!value) return std::nullopt;
    const char* text = icalvalue_get_text(value);
    return std::string(text ? text : "");
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void civilFromDays(long long days, int& year, int& month, int& day)
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

int daysInMonth(int year, int month)
{
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : lengths[month - 1];
}

// 0 = Sunday ... 6 = Saturday.
int weekdayOf(long long days)
{
    return static_cast<int>(((days % 7) + 11) % 7);
}

bool listIsEmpty(const short* list)
{
    return list[0] == ICAL_RECURRENCE_ARRAY_MAX;
}

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

long long nthWeekdayOfMonth(int year, int month, int position, int weekday)
{
    const long long firstDay = daysFromCivil(year, static_cast<unsigned>(month), 1);
    if (position > 0) return firstDay + (weekday - weekdayOf(firstDay) + 7) % 7 + 7LL * (position - 1);
    const long long lastDay = firstDay + daysInMonth(year, month) - 1;
    return lastDay - (weekdayOf(lastDay) - weekday + 7) % 7;
}
} // namespace

// One event component, read once so a day query does not walk the parse tree again.
struct CalendarEntry {
    std::optional<std::string> uid;
    std::optional<std::string> summary;
    FileTime start;
    bool allDay = false;
    int lengthDays = 0;
    double lengthSeconds = 0;
    std::vector<icalrecurrencetype> rules;
    // Parallel to rules: the arithmetic form when the rule has one.
    std::vector<std::optional<SimpleRule>> simpleRules;
    // Parallel to rules: set once libical found no instance at all (its answer never changes, and finding out can
    // cost a quarter of a second). Written during queries, under the store's mutex.
    mutable std::vector<char> ruleHasNoInstance;
    std::vector<std::pair<FileTime, std::optional<FileTime>>> extraDates;
    std::unordered_set<long long> excluded;
    // Set for an overridden instance of a recurring event.
    std::optional<double> replacesInstanceAt;
    bool cancelled = false;

    bool recurs() const { return !rules.empty() || !extraDates.empty(); }
};

struct ICalendarEventStore::ParsedFile {
    std::filesystem::file_time_type modified;
    std::uintmax_t size = 0;
    // The parse tree stays alive: the entries' time zones point into its VTIMEZONEs.
    ComponentPtr root;
    std::vector<CalendarEntry> entries;
};

namespace {

std::optional<SimpleRule> simplify(const icalrecurrencetype& rule, const icaltimetype& start)
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
    case ICAL_WEEKLY_RECURRENCE:
        if (!listIsEmpty(rule.by_month_day)) return std::nullopt;
        for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
            if (icalrecurrencetype_day_position(rule.by_day[i]) != 0) return std::nullopt;
            simple.weekdays |= 1u << (static_cast<int>(icalrecurrencetype_day_day_of_week(rule.by_day[i])) - 1);
        }
        if (simple.weekdays == 0) simple.weekdays = 1u << weekdayOf(first);
        if (!(simple.weekdays & (1u << weekdayOf(first))) && !synchronised) return std::nullopt;
        simple.weekStart = rule.week_start == ICAL_NO_WEEKDAY ? 1 : static_cast<int>(rule.week_start) - 1;
        return simple;
    case ICAL_MONTHLY_RECURRENCE:
        if (!listIsEmpty(rule.by_month_day)) {
            if (!listIsEmpty(rule.by_day) || rule.by_month_day[1] != ICAL_RECURRENCE_ARRAY_MAX ||
                rule.by_month_day[0] < 1 || rule.by_month_day[0] > 28)
                return std::nullopt;
            if (rule.by_month_day[0] != start.day && !synchronised) return std::nullopt;
            simple.monthDay = rule.by_month_day[0];
            return simple;
        }
        if (!listIsEmpty(rule.by_day)) {
            if (rule.by_day[1] != ICAL_RECURRENCE_ARRAY_MAX) return std::nullopt;
            simple.nthPosition = icalrecurrencetype_day_position(rule.by_day[0]);
            simple.nthWeekday = static_cast<int>(icalrecurrencetype_day_day_of_week(rule.by_day[0])) - 1;
            if (simple.nthPosition == 0 || simple.nthPosition > 4 || simple.nthPosition < -1) return std::nullopt;
            if (nthWeekdayOfMonth(start.year, start.month, simple.nthPosition, simple.nthWeekday) != first &&
                !synchronised)
                return std::nullopt;
            return simple;
        }
        // Months without that day are skipped, which breaks the arithmetic of COUNT.
        if (rule.count > 0 && start.day > 28) return std::nullopt;
        return simple;
    case ICAL_YEARLY_RECURRENCE:
        if (!listIsEmpty(rule.by_day) || !listIsEmpty(rule.by_month_day)) return std::nullopt;
        if (rule.count > 0 && start.month == 2 && start.day == 29) return std::nullopt;
        return simple;
    default: return std::nullopt;
    }
}

int listLength(const short* list, int capacity)
{
    int length = 0;
    while (length < capacity && list[length] != ICAL_RECURRENCE_ARRAY_MAX)
        ++length;
    return length;
}

// True for rules no date can satisfy (the 30th of February, a first Monday on the 31st, the 366th of a set of 53).
// libical searches centuries for their first instance, up to a second per rule, so they are settled here instead.
bool neverMatches(const icalrecurrencetype& rule)
{
    if (rule.rscale && *rule.rscale) return false;
    static constexpr int longestMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int months = listLength(rule.by_month, ICAL_BY_MONTH_SIZE);
    const int monthDays = listLength(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    if (months > 0 && monthDays > 0) {
        bool possible = false;
        for (int m = 0; m < months && !possible; ++m) {
            const int month = rule.by_month[m];
            if (month < 1 || month > 12) continue;
            for (int d = 0; d < monthDays && !possible; ++d) {
                const int day = rule.by_month_day[d];
                possible = day != 0 && std::abs(day) <= longestMonth[month - 1];
            }
        }
        if (!possible) return true;
    }

    // The n-th weekday of a month falls in a fixed week of it, which may miss every listed day of the month.
    const int weekdays = listLength(rule.by_day, ICAL_BY_DAY_SIZE);
    const bool weekdaysWithinMonth =
        rule.freq == ICAL_MONTHLY_RECURRENCE || (rule.freq == ICAL_YEARLY_RECURRENCE && months > 0);
    if (monthDays > 0 && weekdays > 0 && weekdaysWithinMonth) {
        bool possible = false;
        for (int w = 0; w < weekdays && !possible; ++w) {
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
            for (int d = 0; d < monthDays && !possible; ++d) {
                const int day = rule.by_month_day[d];
                const int lo = day > 0 ? day : 29 + day;
                const int hi = day > 0 ? day : 32 + day;
                possible = day != 0 && lo <= last && hi >= first;
            }
        }
        if (!possible) return true;
    }

    const int setPositions = listLength(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
    if (setPositions == 0) return false;
    // An upper bound on the size of one period's set: candidate days times candidate times of day.
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
        if (weekdays) {
            long long byWeekday = 0;
            for (int i = 0; i < weekdays; ++i)
                byWeekday += icalrecurrencetype_day_position(rule.by_day[i]) != 0 ? (months ? months : 1) : 53;
            days = std::min(days, byWeekday);
        }
        break;
    }
    case ICAL_MONTHLY_RECURRENCE:
        days = monthDays || weekdays ? 31 : 1;
        if (monthDays) days = std::min<long long>(days, monthDays);
        if (weekdays) {
            long long byWeekday = 0;
            for (int i = 0; i < weekdays; ++i)
                byWeekday += icalrecurrencetype_day_position(rule.by_day[i]) != 0 ? 1 : 5;
            days = std::min(days, byWeekday);
        }
        break;
    case ICAL_WEEKLY_RECURRENCE: days = weekdays ? std::min(weekdays, 7) : 1; break;
    default: days = 1; break;
    }
    long long times = 1;
    const int hours = listLength(rule.by_hour, ICAL_BY_HOUR_SIZE);
    const int minutes = listLength(rule.by_minute, ICAL_BY_MINUTE_SIZE);
    const int seconds = listLength(rule.by_second, ICAL_BY_SECOND_SIZE);
    // Frequencies run from SECONDLY (0) to YEARLY (6); a BY part finer than the frequency adds times to each day.
    if (rule.freq >= ICAL_DAILY_RECURRENCE) times *= std::max(hours, 1);
    if (rule.freq >= ICAL_HOURLY_RECURRENCE) times *= std::max(minutes, 1);
    if (rule.freq >= ICAL_MINUTELY_RECURRENCE) times *= std::max(seconds, 1);
    const long long setSize = days * times;
    for (int i = 0; i < setPositions; ++i)
        if (rule.by_set_pos[i] != 0 && std::abs(rule.by_set_pos[i]) <= setSize) return false;
    return true;
}

std::optional<CalendarEntry> readEvent(icalcomponent* event, icalcomponent* calendar)
{
    CalendarEntry entry;
    const auto start = readTime(icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY), calendar);
    if (!start) return std::nullopt;
    entry.start = *start;
    entry.allDay = start->value.is_date;
    entry.uid = textProperty(event, ICAL_UID_PROPERTY);
    entry.summary = textProperty(event, ICAL_SUMMARY_PROPERTY);
    if (auto* status = icalcomponent_get_first_property(event, ICAL_STATUS_PROPERTY))
        entry.cancelled = icalproperty_get_status(status) == ICAL_STATUS_CANCELLED;

    const double startUnix = unixOf(entry.start);
    if (const auto end = readTime(icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY), calendar)) {
        if (entry.allDay) {
            const double days = std::round((unixOf(*end) - startUnix) / kDay);
            entry.lengthDays = static_cast<int>(std::clamp(days, 0.0, 36600.0));
        } else {
            entry.lengthSeconds = std::max(0.0, unixOf(*end) - startUnix);
        }
    } else if (auto* duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
        const auto length = icalproperty_get_duration(duration);
        if (entry.allDay)
            entry.lengthDays = length.is_neg ? 0 : static_cast<int>(length.days + 7 * length.weeks);
        else
            entry.lengthSeconds = std::max(0, icaldurationtype_as_int(length));
    } else if (entry.allDay) {
        entry.lengthDays = 1;
    }

    for (auto* rule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); rule;
         rule = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
        const auto recurrence = icalproperty_get_rrule(rule);
        if (recurrence.freq == ICAL_NO_RECURRENCE || neverMatches(recurrence)) continue;
        entry.rules.push_back(recurrence);
        entry.simpleRules.push_back(simplify(recurrence, entry.start.value));
        entry.ruleHasNoInstance.push_back(0);
    }
    for (auto* rdate = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); rdate;
         rdate = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        const auto value = icalproperty_get_rdate(rdate);
        if (usable(value.time)) {
            FileTime time{value.time, zoneFor(rdate, calendar, value.time)};
            entry.extraDates.emplace_back(time, std::nullopt);
        } else if (usable(value.period.start)) {
            FileTime from{value.period.start, zoneFor(rdate, calendar, value.period.start)};
            std::optional<FileTime> to;
            if (usable(value.period.end)) to = FileTime{value.period.end, from.zone};
            entry.extraDates.emplace_back(from, to);
        }
    }
    for (auto* exdate = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); exdate;
         exdate = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
        if (const auto time = readTime(exdate, calendar))
            entry.excluded.insert(static_cast<long long>(std::llround(unixOf(*time))));
    }
    if (const auto original = readTime(icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY), calendar))
        entry.replacesInstanceAt = unixOf(*original);
    return entry;
}

void collectEvents(icalcomponent* component, std::vector<CalendarEntry>& entries)
{
    const auto kind = icalcomponent_isa(component);
    if (kind == ICAL_VEVENT_COMPONENT) {
        if (auto entry = readEvent(component, icalcomponent_get_parent(component)))
            entries.push_back(std::move(*entry));
        return;
    }
    if (kind != ICAL_VCALENDAR_COMPONENT && kind != ICAL_XROOT_COMPONENT) return;
    for (auto* child = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT); child;
         child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
        collectEvents(child, entries);
}

// Overridden instances leave their master's expansion; the override itself stands for them.
void linkOverrides(std::vector<CalendarEntry>& entries)
{
    std::unordered_map<std::string, std::vector<double>> overridden;
    for (const auto& entry : entries)
        if (entry.replacesInstanceAt && entry.uid) overridden[*entry.uid].push_back(*entry.replacesInstanceAt);
    for (auto& entry : entries) {
        if (entry.replacesInstanceAt || !entry.uid) continue;
        const auto found = overridden.find(*entry.uid);
        if (found == overridden.end()) continue;
        for (double at : found->second)
            entry.excluded.insert(std::llround(at));
    }
}

double endOf(const CalendarEntry& entry, const FileTime& start, double startUnix)
{
    if (!entry.allDay) return startUnix + entry.lengthSeconds;
    FileTime end = start;
    icaltime_adjust(&end.value, entry.lengthDays, 0, 0, 0);
    return unixOf(end);
}

bool intersects(double start, double end, double from, double to)
{
    if (end <= start) return start >= from && start < to;
    return start < to && end > from;
}

// Visits the instances whose wall dates lie near [from, to), in order, honouring COUNT and UNTIL.
template <class Visit>
void expandSimple(const CalendarEntry& entry, const SimpleRule& rule, double from, double to, Visit visit)
{
    const auto& start = entry.start.value;
    const long long first =
        daysFromCivil(start.year, static_cast<unsigned>(start.month), static_cast<unsigned>(start.day));
    const double longest = entry.allDay ? (entry.lengthDays + 2) * kDay : entry.lengthSeconds;
    // Wall dates are less than a day away from UTC dates; two days either side cover every zone.
    const long long dayLo = static_cast<long long>(std::floor((from - longest) / kDay)) - 2;
    const long long dayHi = static_cast<long long>(std::floor(to / kDay)) + 2;
    if (dayHi < first) return;

    std::optional<double> untilUnix;
    if (rule.until) {
        if (rule.until->is_date)
            untilUnix = unixOf(FileTime{*rule.until, nullptr}) + (entry.allDay ? 0.0 : kDay - 1);
        else
            untilUnix = unixOf(FileTime{*rule.until, icaltime_is_utc(*rule.until) ? nullptr : entry.start.zone});
    }
    // False once COUNT or UNTIL ends the rule.
    auto instance = [&](long long day, long long index) {
        if (rule.count > 0 && index >= rule.count) return false;
        FileTime time = entry.start;
        civilFromDays(day, time.value.year, time.value.month, time.value.day);
        if (untilUnix && unixOf(time) > *untilUnix) return false;
        if (day >= dayLo) visit(time);
        return true;
    };
    auto firstStep = [&](long long distance, long long stepLength) {
        return distance <= 0 ? 0 : distance / stepLength;
    };

    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        for (long long k = firstStep(dayLo - first, rule.interval);; ++k) {
            const long long day = first + k * rule.interval;
            if (day > dayHi || !instance(day, k)) return;
        }
    case ICAL_WEEKLY_RECURRENCE: {
        auto weekOf = [&](long long day) { return day - (weekdayOf(day) - rule.weekStart + 7) % 7; };
        const long long firstWeek = weekOf(first);
        const int perWeek = std::popcount(rule.weekdays);
        int inFirstWeek = 0;
        for (long long day = first; day < firstWeek + 7; ++day)
            if (rule.weekdays & (1u << weekdayOf(day))) ++inFirstWeek;
        for (long long n = firstStep(weekOf(dayLo) - firstWeek, 7 * rule.interval);; ++n) {
            const long long week = firstWeek + 7 * rule.interval * n;
            if (week > dayHi) return;
            long long index = n == 0 ? 0 : inFirstWeek + (n - 1) * perWeek;
            for (long long day = week; day < week + 7; ++day) {
                if (day < first || !(rule.weekdays & (1u << weekdayOf(day)))) continue;
                if (day > dayHi || !instance(day, index)) return;
                ++index;
            }
        }
    }
    case ICAL_MONTHLY_RECURRENCE: {
        int loYear = 0, loMonth = 0, loDay = 0;
        civilFromDays(dayLo, loYear, loMonth, loDay);
        const long long firstMonth = start.year * 12LL + start.month - 1;
        for (long long k = firstStep(loYear * 12LL + loMonth - 1 - firstMonth, rule.interval);; ++k) {
            const long long month = firstMonth + k * rule.interval;
            const int year = static_cast<int>(month / 12);
            const int monthOfYear = static_cast<int>(month % 12) + 1;
            long long day = 0;
            if (rule.nthPosition != 0) {
                day = nthWeekdayOfMonth(year, monthOfYear, rule.nthPosition, rule.nthWeekday);
            } else {
                if (daysFromCivil(year, static_cast<unsigned>(monthOfYear), 1) > dayHi) return;
                if (rule.monthDay > daysInMonth(year, monthOfYear)) continue;
                day = daysFromCivil(year, static_cast<unsigned>(monthOfYear), static_cast<unsigned>(rule.monthDay));
            }
            if (day < first) continue;
            if (day > dayHi || !instance(day, k)) return;
        }
    }
    case ICAL_YEARLY_RECURRENCE: {
        int loYear = 0, loMonth = 0, loDay = 0;
        civilFromDays(dayLo, loYear, loMonth, loDay);
        for (long long k = firstStep(loYear - start.year, rule.interval);; ++k) {
            const int year = static_cast<int>(start.year + k * rule.interval);
            if (daysFromCivil(year, 1, 1) > dayHi) return;
            if (start.day > daysInMonth(year, start.month)) continue;
            const long long day =
                daysFromCivil(year, static_cast<unsigned>(start.month), static_cast<unsigned>(start.day));
            if (day > dayHi || !instance(day, k)) return;
        }
    }
    default: return;
    }
}

// What one file may spend on one query: a deadline and a number of libical steps, shared by all its rules.
struct QueryBudget {
    std::chrono::steady_clock::time_point deadline;
    long long stepsLeft = kMaxRecurrenceStepsPerFile;

    bool spent()
    {
        if (stepsLeft <= 0) return true;
        if (std::chrono::steady_clock::now() < deadline) return false;
        stepsLeft = 0;
        return true;
    }
    // Counts one step; reads the clock only every 64 steps.
    bool step()
    {
        --stepsLeft;
        return (stepsLeft & 63) == 0 ? spent() : stepsLeft <= 0;
    }
};

// The earliest occurrences of one series in the window, at most kMaxOccurrencesPerSeries, and a count of the rest.
class SeriesOccurrences {
public:
    void add(StoredCalendarEvent event)
    {
        const auto later =
            std::upper_bound(m_kept.begin(), m_kept.end(), event.start,
                             [](Date start, const StoredCalendarEvent& kept) { return start < kept.start; });
        if (m_kept.size() == ICalendarEventStore::kMaxOccurrencesPerSeries) {
            ++m_more;
            if (later == m_kept.end()) return;
            m_kept.pop_back();
        }
        m_kept.insert(later, std::move(event));
    }
    void addUnlisted(std::size_t count) { m_more += count; }
    bool full() const { return m_kept.size() == ICalendarEventStore::kMaxOccurrencesPerSeries; }

    void moveInto(std::vector<StoredCalendarEvent>& out)
    {
        if (m_kept.empty()) return;
        m_kept.back().moreOccurrences = m_more;
        std::move(m_kept.begin(), m_kept.end(), std::back_inserter(out));
    }

private:
    std::vector<StoredCalendarEvent> m_kept;
    std::size_t m_more = 0;
};

// Rules finer than a day without BY parts step by a fixed number of seconds, so a day of FREQ=SECONDLY is counted,
// not walked. Steps are in elapsed time; libical steps wall-clock time, which differs only across a clock change.
std::optional<double> fixedStepSeconds(const icalrecurrencetype& rule)
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

void expand(const CalendarEntry& entry, double from, double to, bool arithmetic, QueryBudget& budget,
            std::vector<StoredCalendarEvent>& out)
{
    SeriesOccurrences series;
    auto emit = [&](double start, double end, bool isInstance) {
        if (!intersects(start, end, from, to)) return;
        StoredCalendarEvent event;
        event.uid = entry.uid;
        event.summary = entry.summary;
        event.start = dateFromUnixSeconds(start);
        event.end = dateFromUnixSeconds(std::max(start, end));
        event.isAllDay = entry.allDay;
        if (isInstance) event.recurrenceID = utcText(start);
        series.add(std::move(event));
    };

    if (entry.replacesInstanceAt) {
        if (entry.cancelled) return;
        const double start = unixOf(entry.start);
        const double end = endOf(entry, entry.start, start);
        if (!intersects(start, end, from, to)) return;
        emit(start, end, false);
        series.moveInto(out);
        out.back().recurrenceID = utcText(*entry.replacesInstanceAt);
        return;
    }
    const double firstStart = unixOf(entry.start);
    if (!entry.recurs()) {
        emit(firstStart, endOf(entry, entry.start, firstStart), false);
        series.moveInto(out);
        return;
    }

    std::set<long long> seen;
    auto occurrence = [&](const FileTime& start, std::optional<double> explicitEnd) {
        const double startUnix = unixOf(start);
        const auto key = std::llround(startUnix);
        if (entry.excluded.count(key) || !seen.insert(key).second) return;
        emit(startUnix, explicitEnd ? *explicitEnd : endOf(entry, start, startUnix), true);
    };

    const double longest = entry.allDay ? (entry.lengthDays + 2) * kDay : entry.lengthSeconds;
    for (std::size_t i = 0; i < entry.rules.size(); ++i) {
        const auto& rule = entry.rules[i];
        if (arithmetic && entry.simpleRules[i]) {
            expandSimple(entry, *entry.simpleRules[i], from, to,
                         [&](const FileTime& time) { occurrence(time, std::nullopt); });
            continue;
        }
        if (const auto step = fixedStepSeconds(rule); step && !entry.allDay) {
            // The instances k = first..last intersect the window; the first few are listed, the rest counted.
            long long first = std::max(0LL, static_cast<long long>(std::ceil((from - longest - firstStart) / *step)));
            while (first > 0 && firstStart + (first - 1) * *step + longest > from)
                --first;
            double lastStart = to;
            if (!icaltime_is_null_time(rule.until))
                lastStart = std::min(
                    lastStart,
                    std::nextafter(
                        unixOf(FileTime{rule.until, icaltime_is_utc(rule.until) ? nullptr : entry.start.zone}), 1e300));
            long long last = static_cast<long long>(std::ceil((lastStart - firstStart) / *step)) - 1;
            if (rule.count > 0) last = std::min<long long>(last, rule.count - 1);
            long long k = first;
            for (; k <= last && !series.full(); ++k) {
                const double startUnix = firstStart + static_cast<double>(k) * *step;
                if (entry.excluded.count(std::llround(startUnix)) || !seen.insert(std::llround(startUnix)).second)
                    continue;
                emit(startUnix, startUnix + entry.lengthSeconds, true);
            }
            if (k <= last) {
                auto rest = static_cast<std::size_t>(last - k + 1);
                for (const long long excluded : entry.excluded) {
                    const double offset = (static_cast<double>(excluded) - firstStart) / *step;
                    if (offset >= static_cast<double>(k) && offset <= static_cast<double>(last) &&
                        std::abs(offset - std::round(offset)) < 1e-6 && rest > 0)
                        --rest;
                }
                series.addUnlisted(rest);
            }
            continue;
        }
        if (entry.ruleHasNoInstance[i] || budget.spent()) continue;
        IteratorPtr iterator(icalrecur_iterator_new(rule, entry.start.value));
        if (!iterator) {
            entry.ruleHasNoInstance[i] = 1;
            continue;
        }
        // Skipping ahead is exact for daily and coarser rules without COUNT; finer rules walk from the start.
        const bool canSkip =
            rule.count == 0 && rule.freq >= ICAL_DAILY_RECURRENCE && rule.freq <= ICAL_YEARLY_RECURRENCE;
        const double skipTo = from - longest - 2 * kDay;
        if (canSkip && skipTo > firstStart)
            icalrecur_iterator_set_start(iterator.get(), wallTimeAt(skipTo, entry.start));
        while (!budget.step()) {
            auto next = icalrecur_iterator_next(iterator.get());
            if (icaltime_is_null_time(next)) break;
            FileTime time{next, entry.start.zone};
            time.value.zone = entry.start.value.zone;
            time.value.is_date = entry.start.value.is_date;
            if (unixOf(time) >= to) break;
            occurrence(time, std::nullopt);
        }
    }
    // DTSTART is always the first instance, whether or not the rule would produce it.
    occurrence(entry.start, std::nullopt);
    for (const auto& [start, end] : entry.extraDates) {
        if (end) {
            occurrence(start, unixOf(*end));
        } else {
            FileTime time = start;
            time.value.is_date = entry.start.value.is_date;
            occurrence(time, std::nullopt);
        }
    }
    series.moveInto(out);
}

// Sends what libical prints to stderr (it warns there about malformed files) into a buffer for the time of a parse
// or query. The redirection is process-wide, so one capture runs at a time.
class LibraryOutputCapture {
public:
    LibraryOutputCapture()
    {
        s_mutex.lock();
        std::fflush(stderr);
        m_buffer = ::memfd_create("libical-messages", MFD_CLOEXEC);
        if (m_buffer >= 0) m_saved = ::dup(STDERR_FILENO);
        if (m_saved >= 0 && ::dup2(m_buffer, STDERR_FILENO) < 0) {
            ::close(m_saved);
            m_saved = -1;
        }
    }
    ~LibraryOutputCapture()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
        if (m_buffer >= 0) ::close(m_buffer);
        s_mutex.unlock();
    }
    LibraryOutputCapture(const LibraryOutputCapture&) = delete;
    LibraryOutputCapture& operator=(const LibraryOutputCapture&) = delete;

    // What was written so far, at most `limit` bytes of it.
    std::string text(std::size_t limit) const
    {
        if (m_saved < 0) return {};
        std::fflush(stderr);
        std::string text(limit, '\0');
        const auto length = ::pread(m_buffer, text.data(), text.size(), 0);
        text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        return text;
    }

private:
    static inline std::mutex s_mutex;
    int m_buffer = -1;
    int m_saved = -1;
};

std::optional<std::string> readWholeFile(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace

ICalendarEventStore::Locations ICalendarEventStore::defaultLocations()
{
    const auto paths = AppPaths::current();
    return Locations{paths.calendarsDirectory(), paths.evolutionCalendarsDirectory()};
}

ICalendarEventStore::ICalendarEventStore(Locations locations, bool arithmeticRecurrences)
    : m_locations(std::move(locations)), m_arithmeticRecurrences(arithmeticRecurrences)
{
    icalerror_set_errors_are_fatal(0);
}

ICalendarEventStore::~ICalendarEventStore() = default;

std::string ICalendarEventStore::libraryMessages()
{
    std::lock_guard lock(m_mutex);
    return m_libraryMessages;
}

std::vector<std::filesystem::path> ICalendarEventStore::calendarFiles() const
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(m_locations.calendarsFolder, error)) {
        if (item.path().extension() == ".ics" && item.is_regular_file(error)) files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    if (m_locations.evolutionCalendarFolder) {
        std::vector<std::filesystem::path> desktop;
        for (const auto& item : std::filesystem::directory_iterator(*m_locations.evolutionCalendarFolder, error)) {
            auto candidate = item.path() / "calendar.ics";
            if (std::filesystem::is_regular_file(candidate, error)) desktop.push_back(std::move(candidate));
        }
        std::sort(desktop.begin(), desktop.end());
        files.insert(files.end(), desktop.begin(), desktop.end());
    }
    return files;
}

std::shared_ptr<const ICalendarEventStore::ParsedFile>
ICalendarEventStore::parsedFile(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxFileBytes) return nullptr;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) return nullptr;
    if (const auto cached = m_cache.find(file);
        cached != m_cache.end() && cached->second->size == size && cached->second->modified == modified)
        return cached->second;

    auto parsed = std::make_shared<ParsedFile>();
    parsed->size = size;
    parsed->modified = modified;
    if (const auto text = readWholeFile(file)) {
        parsed->root.reset(icalparser_parse_string(text->c_str()));
        if (parsed->root) collectEvents(parsed->root.get(), parsed->entries);
        linkOverrides(parsed->entries);
    }
    m_cache[file] = parsed;
    return parsed;
}

std::vector<StoredCalendarEvent> ICalendarEventStore::eventsBetween(Date start, Date end)
{
    const double from = unixSecondsFromDate(start);
    const double to = unixSecondsFromDate(end);
    std::vector<StoredCalendarEvent> events;
    if (!(to > from)) return events;

    std::lock_guard lock(m_mutex);
    LibraryOutputCapture capture;
    const auto files = calendarFiles();
    for (auto cached = m_cache.begin(); cached != m_cache.end();) {
        if (std::find(files.begin(), files.end(), cached->first) == files.end())
            cached = m_cache.erase(cached);
        else
            ++cached;
    }
    for (const auto& file : files) {
        const auto parsed = parsedFile(file);
        if (!parsed) continue;
        QueryBudget budget{std::chrono::steady_clock::now() + kQueryBudgetPerFile};
        for (const auto& entry : parsed->entries)
            expand(entry, from, to, m_arithmeticRecurrences, budget, events);
    }
    if (auto messages = capture.text(kMaxLibraryMessageBytes); !messages.empty())
        m_libraryMessages = std::move(messages);
    std::stable_sort(events.begin(), events.end(),
                     [](const StoredCalendarEvent& a, const StoredCalendarEvent& b) { return a.start < b.start; });
    return events;
}

} // namespace tc
