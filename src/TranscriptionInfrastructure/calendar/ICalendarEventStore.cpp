#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"
#include "TranscriptionInfrastructure/calendar/LibraryOutputCapture.h"
#include "TranscriptionInfrastructure/calendar/RecurrenceExpander.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <libical/ical.h>

#include <algorithm>
#include <system_error>

namespace tc {

ICalendarEventStore::Locations ICalendarEventStore::defaultLocations()
{
    const auto paths = AppPaths::current();
    return Locations{paths.calendarsDirectory(), paths.evolutionCalendarsDirectory()};
}

ICalendarEventStore::ICalendarEventStore(Locations locations, bool arithmeticRecurrences,
                                         std::chrono::milliseconds queryBudgetPerFile)
    : m_locations(std::move(locations)), m_arithmeticRecurrences(arithmeticRecurrences),
      m_queryBudgetPerFile(queryBudgetPerFile), m_files(kMaxFileBytes)
{
    icalerror_set_errors_are_fatal(0);
}

ICalendarEventStore::~ICalendarEventStore() = default;

std::string ICalendarEventStore::libraryMessages()
{
    std::lock_guard lock(m_mutex);
    return m_libraryMessages;
}

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

std::vector<StoredCalendarEvent> ICalendarEventStore::eventsBetween(Date start, Date end)
{
    const double from = unixSecondsFromDate(start);
    const double to = unixSecondsFromDate(end);
    std::vector<StoredCalendarEvent> events;
    if (!(to > from)) return events;

    std::lock_guard lock(m_mutex);
    LibraryOutputCapture capture;
    const auto files = calendarFiles();
    m_files.keepOnly(files);
    for (const auto& file : files) {
        const auto entries = m_files.entries(file);
        if (!entries) continue;
        RecurrenceExpander expander(std::chrono::steady_clock::now() + m_queryBudgetPerFile, m_arithmeticRecurrences);
        for (const auto& entry : *entries)
            expander.expand(entry, from, to, events);
    }
    if (auto messages = capture.text(kMaxLibraryMessageBytes); !messages.empty())
        m_libraryMessages = std::move(messages);
    std::stable_sort(events.begin(), events.end(),
                     [](const StoredCalendarEvent& a, const StoredCalendarEvent& b) { return a.start < b.start; });
    return events;
}

} // namespace tc
