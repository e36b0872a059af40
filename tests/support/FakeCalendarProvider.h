#pragma once

#include "TranscriptionApplication/CalendarProvider.h"
#include "support/Locked.h"

#include <map>
#include <vector>

namespace tc::test {

// A calendar with events the test puts on days. Access is refused until the test or requestAccess() grants it.
// Thread-safe.
class FakeCalendarProvider : public CalendarProvider {
public:
    void setStatus(CalendarAuthorizationStatus status) { m_lock.set(m_status, status); }
    // Events answered for the day that starts at dayStart (any instant of that local day is looked up by
    // the day start the caller passes).
    void setEvents(Date dayStart, std::vector<CalendarEvent> events)
    {
        m_lock.change([&] { m_events[dayStart] = std::move(events); });
    }

    CalendarAuthorizationStatus authorizationStatus() override { return m_lock.read(m_status); }
    bool requestAccess() override
    {
        return m_lock.change([&] {
            ++m_accessRequests;
            m_status = CalendarAuthorizationStatus::granted;
            return true;
        });
    }
    void withdrawAccess() override { m_lock.set(m_status, CalendarAuthorizationStatus::undetermined); }
    std::vector<CalendarEvent> eventsOnDay(Date day) override
    {
        return m_lock.change([&] {
            m_requestedDays.push_back(day);
            const auto it = m_events.find(day);
            if (m_status != CalendarAuthorizationStatus::granted || it == m_events.end())
                return std::vector<CalendarEvent>{};
            return it->second;
        });
    }

    // The days asked for, in order.
    std::vector<Date> requestedDays() const { return m_lock.read(m_requestedDays); }
    int accessRequests() const { return m_lock.read(m_accessRequests); }

private:
    Locked m_lock;
    CalendarAuthorizationStatus m_status = CalendarAuthorizationStatus::undetermined;
    std::map<Date, std::vector<CalendarEvent>> m_events;
    std::vector<Date> m_requestedDays;
    int m_accessRequests = 0;
};

} // namespace tc::test
