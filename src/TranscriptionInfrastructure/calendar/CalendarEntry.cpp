#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string_view>
#include <unordered_map>

namespace tc {

namespace {

using FileTime = CalendarEntry::FileTime;

constexpr double kDay = 86400.0;

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

} // namespace

double CalendarEntry::unixOf(const FileTime& time)
{
    const auto& t = time.value;
    if (t.is_date) return localUnix(t.year, t.month, t.day, 0, 0, 0);
    if (icaltime_is_utc(t)) return static_cast<double>(icaltime_as_timet(t));
    if (time.zone) return static_cast<double>(icaltime_as_timet_with_zone(t, time.zone));
    return localUnix(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

icaltimetype CalendarEntry::wallTimeAt(double unix, const FileTime& like)
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

double CalendarEntry::endOf(const FileTime& occurrence, double occurrenceUnix) const
{
    if (!allDay) return occurrenceUnix + lengthSeconds;
    FileTime end = occurrence;
    icaltime_adjust(&end.value, lengthDays, 0, 0, 0);
    return unixOf(end);
}

namespace {

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

    const double startUnix = CalendarEntry::unixOf(entry.start);
    if (const auto end = readTime(icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY), calendar)) {
        if (entry.allDay) {
            const double days = std::round((CalendarEntry::unixOf(*end) - startUnix) / kDay);
            entry.lengthDays = static_cast<int>(std::clamp(days, 0.0, 36600.0));
        } else {
            entry.lengthSeconds = std::max(0.0, CalendarEntry::unixOf(*end) - startUnix);
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
        auto recurrence = icalproperty_get_rrule(rule);
        // A timed series ending on a date (other programs write these) keeps that day's instances; libical would
        // end it at the day's first second. Made a time of the start's kind, every expansion reads it alike.
        if (!entry.allDay && !icaltime_is_null_time(recurrence.until) && recurrence.until.is_date) {
            recurrence.until.is_date = 0;
            recurrence.until.hour = 23;
            recurrence.until.minute = 59;
            recurrence.until.second = 59;
            recurrence.until.zone = entry.start.value.zone;
        }
        if (recurrence.freq == ICAL_NO_RECURRENCE || RecurrenceRules::neverMatches(recurrence)) continue;
        entry.rules.push_back(recurrence);
        entry.simpleRules.push_back(RecurrenceRules::simplify(recurrence, entry.start.value));
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
            entry.excluded.insert(static_cast<long long>(std::llround(CalendarEntry::unixOf(*time))));
    }
    if (const auto original = readTime(icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY), calendar))
        entry.replacesInstanceAt = CalendarEntry::unixOf(*original);
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

} // namespace

std::vector<CalendarEntry> CalendarEntry::readAll(icalcomponent* root)
{
    std::vector<CalendarEntry> entries;
    collectEvents(root, entries);
    linkOverrides(entries);
    return entries;
}

} // namespace tc
