#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"

#include "TranscriptionDomain/Uuid.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"
#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <cmath>
#include <ctime>
#include <optional>

namespace tc {

namespace {

constexpr const char* kUntitled = "(無題の予定)";

// Start of the local day containing the instant, and the same wall time one calendar day later.
std::optional<std::pair<Date, Date>> localDayBounds(Date day)
{
    const auto seconds = static_cast<std::time_t>(std::floor(unixSecondsFromDate(day)));
    std::tm fields{};
    if (!localtime_r(&seconds, &fields)) return std::nullopt;
    fields.tm_hour = 0;
    fields.tm_min = 0;
    fields.tm_sec = 0;
    fields.tm_isdst = -1;
    std::tm next = fields;
    const std::time_t start = std::mktime(&fields);
    next.tm_mday += 1;
    const std::time_t end = std::mktime(&next);
    if (start == static_cast<std::time_t>(-1) || end == static_cast<std::time_t>(-1) || end <= start)
        return std::nullopt;
    return std::pair{dateFromUnixSeconds(static_cast<double>(start)), dateFromUnixSeconds(static_cast<double>(end))};
}

std::string identifierOf(const StoredCalendarEvent& event)
{
    if (!event.uid || event.uid->empty()) return Uuid::random().toString();
    // Instances of one recurring event share a UID; the instance's start tells them apart.
    if (!event.recurrenceID.empty()) return *event.uid + "/" + event.recurrenceID;
    return *event.uid;
}

} // namespace

EventKitCalendarProvider::EventKitCalendarProvider()
    : EventKitCalendarProvider(std::make_shared<ConsentStore>(), CalendarSources::makeDefault())
{}

EventKitCalendarProvider::EventKitCalendarProvider(std::shared_ptr<ConsentStore> consent,
                                                   std::shared_ptr<CalendarSources> sources)
    : m_consent(std::move(consent)), m_sources(std::move(sources))
{}

EventKitCalendarProvider::EventKitCalendarProvider(std::shared_ptr<ConsentStore> consent,
                                                   std::shared_ptr<ICalendarEventStore> store)
    : EventKitCalendarProvider(std::move(consent),
                               std::make_shared<CalendarSources>(CalendarSources::Parts{std::move(store), {}, {}, {}, {}}))
{}

EventKitCalendarProvider::~EventKitCalendarProvider() = default;

CalendarAuthorizationStatus EventKitCalendarProvider::authorizationStatus()
{
    switch (m_consent->consent(ConsentTopic::calendar)) {
    case Consent::granted: return CalendarAuthorizationStatus::granted;
    case Consent::denied: return CalendarAuthorizationStatus::denied;
    case Consent::undetermined: return CalendarAuthorizationStatus::undetermined;
    }
    return CalendarAuthorizationStatus::denied;
}

bool EventKitCalendarProvider::requestAccess()
{
    m_consent->record(ConsentTopic::calendar, Consent::granted);
    return authorizationStatus() == CalendarAuthorizationStatus::granted;
}

void EventKitCalendarProvider::withdrawAccess()
{
    m_consent->record(ConsentTopic::calendar, Consent::undetermined);
}

std::vector<CalendarEvent> EventKitCalendarProvider::eventsOnDay(Date day)
{
    std::vector<CalendarEvent> events;
    if (authorizationStatus() != CalendarAuthorizationStatus::granted) return events;
    const auto bounds = localDayBounds(day);
    if (!bounds) return events;
    const auto stored = m_sources->eventsBetween(bounds->first, bounds->second);
    events.reserve(stored.size());
    for (const auto& event : stored)
        events.push_back(CalendarEvent{identifierOf(event), event.summary ? *event.summary : kUntitled, event.start,
                                       event.end, event.moreOccurrences});
    return events;
}

void EventKitCalendarProvider::setChangeHandler(std::function<void()> changed)
{
    m_sources->setChangeHandler(std::move(changed));
}

std::vector<std::string> EventKitCalendarProvider::sourceNames()
{
    return m_sources->enabledSourceNames();
}

} // namespace tc
