#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"
#include "TranscriptionInfrastructure/calendar/LibraryOutputCapture.h"
#include "TranscriptionInfrastructure/calendar/RecurrenceExpander.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <libical/ical.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

namespace tc {

ICalendarEventStore::Locations ICalendarEventStore::defaultLocations()
{
    const auto paths = AppPaths::current();
    return Locations{paths.calendarsDirectory(), paths.evolutionCalendarsDirectory(),
                     paths.dataDirectory() / "subscriptions"};
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

namespace {

struct RootDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

std::size_t seriesCount(const std::vector<CalendarEntry>& entries)
{
    std::set<std::string> series;
    std::size_t unnamed = 0;
    for (const auto& entry : entries) {
        if (entry.replacesInstanceAt) continue;
        if (entry.uid)
            series.insert(*entry.uid);
        else
            ++unnamed;
    }
    return series.size() + unnamed;
}

} // namespace

std::optional<std::size_t> ICalendarEventStore::countEvents(const std::string& text)
{
    icalerror_set_errors_are_fatal(0);
    LibraryOutputCapture capture;
    std::unique_ptr<icalcomponent, RootDeleter> root(icalparser_parse_string(text.c_str()));
    if (!root) return std::nullopt;
    const auto kind = icalcomponent_isa(root.get());
    if (kind == ICAL_XROOT_COMPONENT) {
        if (!icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT)) return std::nullopt;
    } else if (kind != ICAL_VCALENDAR_COMPONENT) {
        return std::nullopt;
    }
    return seriesCount(CalendarEntry::readAll(root.get()));
}

std::vector<std::pair<std::filesystem::path, CalendarSourceKind>> ICalendarEventStore::presentFiles() const
{
    std::vector<std::pair<std::filesystem::path, CalendarSourceKind>> files;
    const auto folder = [&](const std::filesystem::path& directory, CalendarSourceKind kind) {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& item : std::filesystem::directory_iterator(directory, error)) {
            if (item.path().extension() == ".ics" && item.is_regular_file(error)) found.push_back(item.path());
        }
        std::sort(found.begin(), found.end());
        for (auto& file : found)
            files.emplace_back(std::move(file), kind);
    };
    folder(m_locations.calendarsFolder, CalendarSourceKind::calendarsFolder);
    std::lock_guard lock(m_settingsMutex);
    for (const auto& file : m_linkedFiles) {
        std::error_code error;
        if (std::filesystem::is_regular_file(file, error)) files.emplace_back(file, CalendarSourceKind::linkedFile);
    }
    if (m_locations.subscriptionsFolder) folder(*m_locations.subscriptionsFolder, CalendarSourceKind::subscription);
    if (m_locations.evolutionCalendarFolder) {
        std::vector<std::filesystem::path> desktop;
        std::error_code error;
        for (const auto& item : std::filesystem::directory_iterator(*m_locations.evolutionCalendarFolder, error)) {
            if (m_skippedEvolution.count(item.path().filename().string())) continue;
            auto candidate = item.path() / "calendar.ics";
            if (std::filesystem::is_regular_file(candidate, error)) desktop.push_back(std::move(candidate));
        }
        std::sort(desktop.begin(), desktop.end());
        for (auto& file : desktop)
            files.emplace_back(std::move(file), CalendarSourceKind::evolutionFile);
    }
    return files;
}

std::vector<std::filesystem::path> ICalendarEventStore::calendarFiles() const
{
    std::vector<std::filesystem::path> files;
    const auto present = presentFiles();
    std::lock_guard lock(m_settingsMutex);
    for (const auto& [file, kind] : present)
        if (!m_disabledFiles.count(file)) files.push_back(file);
    return files;
}

std::vector<ICalendarEventStore::FileSummary> ICalendarEventStore::fileSummaries()
{
    const auto present = presentFiles();
    std::vector<FileSummary> summaries;
    std::lock_guard lock(m_mutex);
    LibraryOutputCapture capture;
    for (const auto& [file, kind] : present) {
        FileSummary summary{file, kind, std::nullopt, std::nullopt};
        std::error_code error;
        const auto modified = std::filesystem::last_write_time(file, error);
        if (!error) {
            const auto system = std::chrono::file_clock::to_sys(modified);
            summary.modified =
                dateFromUnixSeconds(std::chrono::duration<double>(system.time_since_epoch()).count());
        }
        if (const auto entries = m_files.entries(file)) summary.eventCount = seriesCount(*entries);
        summaries.push_back(std::move(summary));
    }
    return summaries;
}

void ICalendarEventStore::setLinkedFiles(std::vector<std::filesystem::path> files)
{
    std::lock_guard lock(m_settingsMutex);
    m_linkedFiles = std::move(files);
}

void ICalendarEventStore::setSkippedEvolutionCalendars(std::set<std::string> uids)
{
    std::lock_guard lock(m_settingsMutex);
    m_skippedEvolution = std::move(uids);
}

void ICalendarEventStore::setDisabledFiles(std::set<std::filesystem::path> files)
{
    std::lock_guard lock(m_settingsMutex);
    m_disabledFiles = std::move(files);
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
