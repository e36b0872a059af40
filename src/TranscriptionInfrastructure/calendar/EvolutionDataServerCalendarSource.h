#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionInfrastructure/calendar/CalendarSourceInfo.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tc {

class EvolutionDataServerCalendarMirror;

// The desktop's calendar accounts through Evolution Data Server (libecal): every enabled calendar source of its
// registry, which covers online accounts, CalDAV and local calendars. Each calendar is watched through a live
// view of all its events, kept in memory, so a day query never waits on D-Bus; recurrences are expanded by our
// own RecurrenceExpander, which honours moved instances (the server's generate_instances does not, see
// docs/calendars.md). GLib runs on a thread of its own with its own main context. Without a session bus or
// without the registry service, the source is simply empty after connectTimeout; a registry answering later still
// fills it, with a change call. Thread-safe (one mutex inside).
class EvolutionDataServerCalendarSource {
public:
    // How long start-up waits for the registry before the source counts as settled and empty (until it answers).
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};
    // How long the first query waits for the calendars' first full listing.
    static constexpr std::chrono::milliseconds kFirstListingWait{3000};

    // Starts connecting in the background; returns at once.
    explicit EvolutionDataServerCalendarSource(std::chrono::milliseconds connectTimeout = kConnectTimeout);
    // Stops the GLib thread and joins it.
    ~EvolutionDataServerCalendarSource();
    EvolutionDataServerCalendarSource(const EvolutionDataServerCalendarSource&) = delete;
    EvolutionDataServerCalendarSource& operator=(const EvolutionDataServerCalendarSource&) = delete;

    // Waits (at most `wait`) until the registry answered or gave up and every calendar sent its first listing;
    // true when that happened in time.
    bool waitUntilSettled(std::chrono::milliseconds wait);
    // True once the registry answered with calendar sources; false while connecting and when there is no service
    // (it turns true should the service start later).
    bool available();
    // The enabled calendars, "eds:<source uid>" as id, with their event counts once listed.
    std::vector<CalendarSourceInfo> calendars();
    // The UIDs of the registry's calendar sources (to leave their local files unread).
    std::vector<std::string> sourceUids();
    // Occurrences intersecting [start, end) of the calendars `enabled` accepts (by id), sorted stably by start.
    // The first call waits up to kFirstListingWait for the first listing. Never throws.
    std::vector<StoredCalendarEvent> eventsBetween(Date start, Date end,
                                                   const std::function<bool(const std::string& id)>& enabled);
    // Called on the GLib thread whenever a calendar or its events changed; replaces the previous callback.
    void setChangeHandler(std::function<void()> changed);

private:
    // Written by the GLib thread, read by the queries.
    std::shared_ptr<EvolutionDataServerCalendarMirror> m_mirror;
    std::jthread m_thread;
};

} // namespace tc
