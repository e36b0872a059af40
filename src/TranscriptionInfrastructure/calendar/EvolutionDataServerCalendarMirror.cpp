#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarMirror.h"

#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"
#include "TranscriptionInfrastructure/calendar/LibraryOutputCapture.h"
#include "TranscriptionInfrastructure/calendar/RecurrenceExpander.h"

#include <libical/ical.h>

#include <algorithm>
#include <iterator>
#include <set>

namespace tc {

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

constexpr const char* kIdPrefix = "eds:";
// Separates a component's UID from its RECURRENCE-ID in the keys of a calendar's components.
constexpr char kKeySeparator = '\x1f';

std::string componentKey(const std::string& uid, const std::string& rid)
{
    return uid + kKeySeparator + rid;
}

} // namespace

// The events of one calendar as parsed for queries; the entries' time zones point into root.
struct EvolutionDataServerCalendarMirror::ParsedCalendar {
    ComponentPtr root;
    std::vector<CalendarEntry> entries;
};

bool EvolutionDataServerCalendarMirror::settled() const
{
    if (!m_registryDone) return false;
    return std::all_of(m_calendars.begin(), m_calendars.end(), [](const auto& c) { return c.second.listed; });
}

void EvolutionDataServerCalendarMirror::notify()
{
    m_settledChanged.notify_all();
    std::lock_guard lock(m_handlerMutex);
    if (m_onChange) m_onChange();
}

void EvolutionDataServerCalendarMirror::registryFailed()
{
    {
        std::lock_guard lock(m_mutex);
        m_registryDone = true;
        m_registryAvailable = false;
    }
    notify();
}

void EvolutionDataServerCalendarMirror::registryAnswered()
{
    {
        std::lock_guard lock(m_mutex);
        m_registryDone = true;
    }
    notify();
}

void EvolutionDataServerCalendarMirror::setCalendars(const std::map<std::string, std::string>& enabled,
                                                     std::vector<std::string> sourceUids)
{
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_calendars.begin(); it != m_calendars.end();)
            it = enabled.count(it->first) ? std::next(it) : m_calendars.erase(it);
        for (const auto& [uid, name] : enabled)
            m_calendars[uid].name = name;
        // A bus without the service still yields a registry, one without sources; the service always has some.
        m_registryAvailable = !sourceUids.empty();
        m_sourceUids = std::move(sourceUids);
    }
    notify();
}

std::map<std::string, std::string> EvolutionDataServerCalendarMirror::zones(const std::string& uid)
{
    std::lock_guard lock(m_mutex);
    return m_calendars[uid].zones;
}

void EvolutionDataServerCalendarMirror::update(const std::string& uid, const std::vector<Component>& components,
                                               std::map<std::string, std::string> zones)
{
    {
        std::lock_guard lock(m_mutex);
        auto& state = m_calendars[uid];
        for (const auto& component : components)
            state.components[componentKey(component.id.uid, component.id.rid)] = component.text;
        state.zones = std::move(zones);
        state.lastUpdate = currentDate();
        ++state.version;
    }
    notify();
}

void EvolutionDataServerCalendarMirror::remove(const std::string& uid, const std::vector<ComponentId>& ids)
{
    {
        std::lock_guard lock(m_mutex);
        auto& state = m_calendars[uid];
        for (const auto& id : ids) {
            if (!id.rid.empty()) {
                state.components.erase(componentKey(id.uid, id.rid));
                continue;
            }
            // The whole event went, its moved instances with it.
            const std::string prefix = id.uid + kKeySeparator;
            for (auto it = state.components.lower_bound(prefix);
                 it != state.components.end() && it->first.starts_with(prefix);)
                it = state.components.erase(it);
        }
        state.lastUpdate = currentDate();
        ++state.version;
    }
    notify();
}

void EvolutionDataServerCalendarMirror::finishListing(const std::string& uid, const std::optional<std::string>& problem)
{
    {
        std::lock_guard lock(m_mutex);
        auto& state = m_calendars[uid];
        state.listed = true;
        state.problem = problem.value_or(std::string());
        if (!problem) state.lastUpdate = currentDate();
    }
    notify();
}

void EvolutionDataServerCalendarMirror::setProblem(const std::string& uid, std::string problem)
{
    {
        std::lock_guard lock(m_mutex);
        auto& state = m_calendars[uid];
        state.problem = std::move(problem);
        state.listed = true;
    }
    notify();
}

bool EvolutionDataServerCalendarMirror::waitUntilSettled(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    return m_settledChanged.wait_for(lock, wait, [&] { return settled(); });
}

bool EvolutionDataServerCalendarMirror::available()
{
    std::lock_guard lock(m_mutex);
    return m_registryAvailable;
}

std::vector<CalendarSourceInfo> EvolutionDataServerCalendarMirror::calendars()
{
    std::lock_guard lock(m_mutex);
    std::vector<CalendarSourceInfo> list;
    for (const auto& [uid, state] : m_calendars) {
        CalendarSourceInfo info;
        info.id = kIdPrefix + uid;
        info.name = state.name;
        info.kind = CalendarSourceKind::desktopAccount;
        if (state.listed) info.eventCount = eventCount(state);
        info.lastUpdate = state.lastUpdate;
        info.problem = state.problem;
        list.push_back(std::move(info));
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return list;
}

std::vector<std::string> EvolutionDataServerCalendarMirror::sourceUids()
{
    std::lock_guard lock(m_mutex);
    return m_sourceUids;
}

std::vector<StoredCalendarEvent>
EvolutionDataServerCalendarMirror::eventsBetween(Date start, Date end,
                                                 const std::function<bool(const std::string& id)>& enabled,
                                                 std::chrono::milliseconds firstListingWait)
{
    const double from = unixSecondsFromDate(start);
    const double to = unixSecondsFromDate(end);
    std::vector<StoredCalendarEvent> events;
    if (!(to > from)) return events;
    std::unique_lock lock(m_mutex);
    if (!m_firstQueryDone) {
        m_settledChanged.wait_for(lock, firstListingWait, [&] { return settled(); });
        m_firstQueryDone = true;
    }
    LibraryOutputCapture capture;
    for (auto& [uid, state] : m_calendars) {
        if (enabled && !enabled(kIdPrefix + uid)) continue;
        if (state.parsedVersion != state.version || !state.parsed) {
            state.parsed = parse(state);
            state.parsedVersion = state.version;
        }
        RecurrenceExpander expander(std::chrono::steady_clock::now() + ICalendarEventStore::kQueryBudgetPerFile, true);
        for (const auto& entry : state.parsed->entries)
            expander.expand(entry, from, to, events);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const StoredCalendarEvent& a, const StoredCalendarEvent& b) { return a.start < b.start; });
    return events;
}

void EvolutionDataServerCalendarMirror::setChangeHandler(std::function<void()> changed)
{
    std::lock_guard lock(m_handlerMutex);
    m_onChange = std::move(changed);
}

std::shared_ptr<EvolutionDataServerCalendarMirror::ParsedCalendar>
EvolutionDataServerCalendarMirror::parse(const CalendarState& state)
{
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//transcription-corvane//EN\r\n";
    for (const auto& [tzid, zone] : state.zones)
        text += zone;
    for (const auto& [key, component] : state.components)
        text += component;
    text += "END:VCALENDAR\r\n";
    auto parsed = std::make_shared<ParsedCalendar>();
    parsed->root.reset(icalparser_parse_string(text.c_str()));
    if (parsed->root) parsed->entries = CalendarEntry::readAll(parsed->root.get());
    return parsed;
}

std::size_t EvolutionDataServerCalendarMirror::eventCount(const CalendarState& state)
{
    std::set<std::string> uids;
    for (const auto& [key, component] : state.components)
        uids.insert(key.substr(0, key.find(kKeySeparator)));
    return uids.size();
}

} // namespace tc
