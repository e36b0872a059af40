#include "support/FakeCalendarProvider.h"

namespace tc::test {

void FakeCalendarProvider::setStatus(CalendarAuthorizationStatus status)
{
    std::lock_guard lock(m_mutex);
    m_status = status;
}

void FakeCalendarProvider::setRequestOutcome(CalendarAuthorizationStatus status)
{
    std::lock_guard lock(m_mutex);
    m_requestOutcome = status;
}

void FakeCalendarProvider::setEvents(Date dayStart, std::vector<CalendarEvent> events)
{
    std::lock_guard lock(m_mutex);
    m_events[dayStart] = std::move(events);
}

CalendarAuthorizationStatus FakeCalendarProvider::authorizationStatus()
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

bool FakeCalendarProvider::requestAccess()
{
    std::lock_guard lock(m_mutex);
    ++m_accessRequests;
    m_status = m_requestOutcome;
    return m_status == CalendarAuthorizationStatus::granted;
}

std::vector<CalendarEvent> FakeCalendarProvider::eventsOnDay(Date day)
{
    std::lock_guard lock(m_mutex);
    m_requestedDays.push_back(day);
    if (m_status != CalendarAuthorizationStatus::granted) return {};
    const auto it = m_events.find(day);
    return it == m_events.end() ? std::vector<CalendarEvent>{} : it->second;
}

std::vector<Date> FakeCalendarProvider::requestedDays() const
{
    std::lock_guard lock(m_mutex);
    return m_requestedDays;
}

int FakeCalendarProvider::accessRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_accessRequests;
}

} // namespace tc::test
