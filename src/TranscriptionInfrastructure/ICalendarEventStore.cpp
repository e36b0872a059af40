#include "TranscriptionInfrastructure/ICalendarEventStore.h"

#include <libical/ical.h>

#include <algorithm>
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
// Bounds the expansion of one rule in one query, so a rule like FREQ=SECONDLY cannot stall the app.
constexpr int kMaxRecurrenceSteps = 100'000;

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
        if (recurrence.freq != ICAL_NO_RECURRENCE) entry.rules.push_back(recurrence);
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

void expand(const CalendarEntry& entry, double from, double to, std::vector<StoredCalendarEvent>& out)
{
    auto emit = [&](double start, double end, bool isInstance) {
        if (!intersects(start, end, from, to)) return;
        StoredCalendarEvent event;
        event.uid = entry.uid;
        event.summary = entry.summary;
        event.start = dateFromUnixSeconds(start);
        event.end = dateFromUnixSeconds(std::max(start, end));
        event.isAllDay = entry.allDay;
        if (isInstance) event.recurrenceID = utcText(start);
        out.push_back(std::move(event));
    };

    if (entry.replacesInstanceAt) {
        if (entry.cancelled) return;
        const double start = unixOf(entry.start);
        const double end = endOf(entry, entry.start, start);
        if (!intersects(start, end, from, to)) return;
        emit(start, end, false);
        out.back().recurrenceID = utcText(*entry.replacesInstanceAt);
        return;
    }
    const double firstStart = unixOf(entry.start);
    if (!entry.recurs()) {
        emit(firstStart, endOf(entry, entry.start, firstStart), false);
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
    for (const auto& rule : entry.rules) {
        IteratorPtr iterator(icalrecur_iterator_new(rule, entry.start.value));
        if (!iterator) continue;
        // Skipping ahead is exact for daily and coarser rules without COUNT; finer rules walk from the start.
        const bool canSkip =
            rule.count == 0 && rule.freq >= ICAL_DAILY_RECURRENCE && rule.freq <= ICAL_YEARLY_RECURRENCE;
        const double skipTo = from - longest - 2 * kDay;
        if (canSkip && skipTo > firstStart)
            icalrecur_iterator_set_start(iterator.get(), wallTimeAt(skipTo, entry.start));
        for (int step = 0; step < kMaxRecurrenceSteps; ++step) {
            auto next = icalrecur_iterator_next(iterator.get());
            if (icaltime_is_null_time(next)) break;
            FileTime time{next, entry.start.zone};
            time.value.zone = entry.start.value.zone;
            time.value.is_date = entry.start.value.is_date;
            if (unixOf(time) >= to) break;
            occurrence(time, std::nullopt);
        }
    }
    if (entry.rules.empty()) occurrence(entry.start, std::nullopt);
    for (const auto& [start, end] : entry.extraDates) {
        if (end) {
            occurrence(start, unixOf(*end));
        } else {
            FileTime time = start;
            time.value.is_date = entry.start.value.is_date;
            occurrence(time, std::nullopt);
        }
    }
}

std::optional<std::string> readWholeFile(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::filesystem::path xdgDataHome()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return data;
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".local/share";
    return ".local/share";
}

} // namespace

ICalendarEventStore::Locations ICalendarEventStore::defaultLocations()
{
    const auto data = xdgDataHome();
    return Locations{data / "transcription-corvane" / "calendars", data / "evolution" / "calendar"};
}

ICalendarEventStore::ICalendarEventStore(Locations locations) : m_locations(std::move(locations))
{
    icalerror_set_errors_are_fatal(0);
}

ICalendarEventStore::~ICalendarEventStore() = default;

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
        for (const auto& entry : parsed->entries)
            expand(entry, from, to, events);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const StoredCalendarEvent& a, const StoredCalendarEvent& b) { return a.start < b.start; });
    return events;
}

} // namespace tc
