#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionInfrastructure/calendar/CalendarSourceInfo.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// What the GLib thread of EvolutionDataServerCalendarSource learned about the desktop's calendars, kept for day
// queries: each calendar's VEVENT and VTIMEZONE texts, parsed again only after they changed. The GLib thread
// writes, any thread reads; thread-safe (one mutex), and each change wakes the waiters and calls the handler.
class EvolutionDataServerCalendarMirror {
public:
    // A component as the server names it: its UID and RECURRENCE-ID (empty for the series itself).
    struct ComponentId {
        std::string uid;
        std::string rid;
    };
    struct Component {
        ComponentId id;
        std::string text;
    };

    // --- Written by the GLib thread ---
    // The registry could not be reached or gave up: nothing is available.
    void registryFailed();
    // The registry answered and its calendars were listed (by setCalendars).
    void registryAnswered();
    // The enabled calendars (source UID -> name), the others dropped; sourceUids: every calendar source.
    void setCalendars(const std::map<std::string, std::string>& enabled, std::vector<std::string> sourceUids);
    // The calendar's time zones known so far (TZID -> VTIMEZONE text).
    std::map<std::string, std::string> zones(const std::string& uid);
    // Components added or changed, with the time zones they refer to.
    void update(const std::string& uid, const std::vector<Component>& components,
                std::map<std::string, std::string> zones);
    // Components removed; removing a series removes its moved instances too.
    void remove(const std::string& uid, const std::vector<ComponentId>& ids);
    // The first full listing arrived, or failed with the problem.
    void finishListing(const std::string& uid, const std::optional<std::string>& problem);
    // The calendar cannot be read; it counts as listed.
    void setProblem(const std::string& uid, std::string problem);

    // --- Read by queries (EvolutionDataServerCalendarSource's contracts) ---
    bool waitUntilSettled(std::chrono::milliseconds wait);
    bool available();
    std::vector<CalendarSourceInfo> calendars();
    std::vector<std::string> sourceUids();
    // The first call waits up to firstListingWait for the first listing.
    std::vector<StoredCalendarEvent> eventsBetween(Date start, Date end,
                                                   const std::function<bool(const std::string& id)>& enabled,
                                                   std::chrono::milliseconds firstListingWait);
    void setChangeHandler(std::function<void()> changed);

private:
    struct ParsedCalendar;
    struct CalendarState {
        std::string name;
        // "<UID>\x1f<RECURRENCE-ID or empty>" -> the VEVENT's text.
        std::map<std::string, std::string> components;
        // TZID -> VTIMEZONE text, for the zones libical does not know by name.
        std::map<std::string, std::string> zones;
        bool listed = false;
        std::string problem;
        std::optional<Date> lastUpdate;
        std::size_t version = 0;
        std::size_t parsedVersion = static_cast<std::size_t>(-1);
        std::shared_ptr<ParsedCalendar> parsed;
    };

    static std::shared_ptr<ParsedCalendar> parse(const CalendarState& state);
    static std::size_t eventCount(const CalendarState& state);
    // Caller holds m_mutex.
    bool settled() const;
    void notify();

    std::mutex m_mutex;
    std::condition_variable m_settledChanged;
    bool m_registryDone = false;
    bool m_registryAvailable = false;
    bool m_firstQueryDone = false;
    std::map<std::string, CalendarState> m_calendars;
    std::vector<std::string> m_sourceUids;

    std::mutex m_handlerMutex;
    std::function<void()> m_onChange;
};

} // namespace tc
