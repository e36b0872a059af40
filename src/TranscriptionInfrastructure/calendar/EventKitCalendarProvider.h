#pragma once

#include "TranscriptionApplication/CalendarProvider.h"

#include <memory>

namespace tc {

class CalendarSources;
class ConsentStore;
class ICalendarEventStore;

// The user's calendars: the desktop's accounts, subscriptions and iCalendar files (CalendarSources). Access is the
// user's consent in the app: the desktop has no system prompt for calendars. Thread-safe: the sources and the
// consent records serialise themselves.
class EventKitCalendarProvider final : public CalendarProvider {
public:
    // The app's consent records and this user's calendar sources.
    EventKitCalendarProvider();
    EventKitCalendarProvider(std::shared_ptr<ConsentStore> consent, std::shared_ptr<CalendarSources> sources);
    // Over iCalendar files only.
    EventKitCalendarProvider(std::shared_ptr<ConsentStore> consent, std::shared_ptr<ICalendarEventStore> store);
    ~EventKitCalendarProvider() override;

    // undetermined until the user allows, then granted (or denied when refused).
    CalendarAuthorizationStatus authorizationStatus() override;
    // Records the user's consent; true once it is given.
    bool requestAccess() override;
    // Clears the consent record, so the sidebar asks again.
    void withdrawAccess() override;
    // The local day's events (start of day to the same time the next day), sorted stably by start; a series lists
    // its first few occurrences, the last of them carrying moreOccurrences. Never throws.
    std::vector<CalendarEvent> eventsOnDay(Date day) override;
    // Any source's change: a desktop calendar's event, a refreshed subscription, a file added or switched.
    void setChangeHandler(std::function<void()> changed) override;
    // The enabled sources, "name（kind）".
    std::vector<std::string> sourceNames() override;

    const std::shared_ptr<CalendarSources>& sources() const { return m_sources; }

private:
    std::shared_ptr<ConsentStore> m_consent;
    std::shared_ptr<CalendarSources> m_sources;
};

} // namespace tc
