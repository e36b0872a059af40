#pragma once

#include "TranscriptionApplication/CalendarProvider.h"

#include <memory>

namespace tc {

class ConsentStore;
class ICalendarEventStore;

// The user's calendars, read from iCalendar files. Access is the user's consent in the app: the desktop has no
// system prompt for calendars. Thread-safe: the event store and the consent records serialise themselves.
class EventKitCalendarProvider final : public CalendarProvider {
public:
    // The app's consent records and the default calendar folders.
    EventKitCalendarProvider();
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

private:
    std::shared_ptr<ConsentStore> m_consent;
    std::shared_ptr<ICalendarEventStore> m_store;
};

} // namespace tc
