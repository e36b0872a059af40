#pragma once

#include "TranscriptionApplication/CalendarProvider.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace tc::test {

// A calendar with events the test puts on days. Access is refused until granted; a refused request leaves
// the status as the test set it. Thread-safe (one mutex inside).
class FakeCalendarProvider : public CalendarProvider {
public:
    void setStatus(CalendarAuthorizationStatus status);
    // What requestAccess() turns the status into.
    void setRequestOutcome(CalendarAuthorizationStatus status);
    // Events answered for the day that starts at dayStart (any instant of that local day is looked up by
    // the day start the caller passes).
    void setEvents(Date dayStart, std::vector<CalendarEvent> events);

    CalendarAuthorizationStatus authorizationStatus() override;
    bool requestAccess() override;
    std::vector<CalendarEvent> eventsOnDay(Date day) override;

    // The days asked for, in order.
    std::vector<Date> requestedDays() const;
    int accessRequests() const;

private:
    mutable std::mutex m_mutex;
    CalendarAuthorizationStatus m_status = CalendarAuthorizationStatus::undetermined;
    CalendarAuthorizationStatus m_requestOutcome = CalendarAuthorizationStatus::granted;
    std::map<Date, std::vector<CalendarEvent>> m_events;
    std::vector<Date> m_requestedDays;
    int m_accessRequests = 0;
};

} // namespace tc::test
