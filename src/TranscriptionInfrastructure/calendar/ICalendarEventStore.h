#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionInfrastructure/calendar/CalendarFileCache.h"
#include "TranscriptionInfrastructure/calendar/CalendarSourceInfo.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tc {

// One occurrence of a calendar event as the .ics files describe it; missing fields stay missing.
struct StoredCalendarEvent {
    std::optional<std::string> uid;
    std::optional<std::string> summary;
    Date start = 0;
    Date end = 0;
    // For an instance of a recurring event: its original start, in UTC ("20260105T090000Z"); empty otherwise.
    std::string recurrenceID;
    bool isAllDay = false;
    // Set on the last listed occurrence of a series: how many more of its occurrences fall in the queried range
    // but were left out (at most kMaxOccurrencesPerSeries are listed per series).
    std::size_t moreOccurrences = 0;
};

// Reads events from iCalendar files with libical: the .ics files of a folder, the files the user linked, the
// saved copies of subscribed calendars and, when present, the desktop's local calendars (Evolution keeps one
// calendar.ics per calendar). Recurrences are expanded (RRULE, RDATE,
// EXDATE, RECURRENCE-ID overrides); TZID is honoured through the file's VTIMEZONE or the system zoneinfo;
// floating and all-day times are in the process's local time zone. Broken components are skipped; files are
// parsed once and kept until they change. A query is bounded: per series at most kMaxOccurrencesPerSeries are
// listed, and each file gets kQueryBudgetPerFile of libical's stepping. libical's warnings never reach stderr.
// Thread-safe (one mutex inside).
class ICalendarEventStore {
public:
    struct Locations {
        // Every *.ics file directly inside.
        std::filesystem::path calendarsFolder;
        // Every */calendar.ics inside, when set.
        std::optional<std::filesystem::path> evolutionCalendarFolder;
        // Every *.ics inside, when set: the last good copies of subscribed calendars.
        std::optional<std::filesystem::path> subscriptionsFolder = {};
    };

    // One calendar file as the settings list it.
    struct FileSummary {
        std::filesystem::path file;
        CalendarSourceKind kind = CalendarSourceKind::calendarsFolder;
        // Events (a series counts once); nothing when the file cannot be read.
        std::optional<std::size_t> eventCount;
        std::optional<Date> modified;
    };

    // AppPaths' calendars folder and the desktop's evolution calendars.
    static Locations defaultLocations();
    // Files larger than this are skipped whole: a calendar is never that big, and parsing one would stall.
    static constexpr std::uintmax_t kMaxFileBytes = 32u * 1024u * 1024u;
    // Occurrences of one recurring event listed per query; the rest are only counted.
    static constexpr std::size_t kMaxOccurrencesPerSeries = 10;
    // Time one file may spend expanding the rules libical iterates, per query; rules left over yield nothing.
    static constexpr std::chrono::milliseconds kQueryBudgetPerFile{50};
    static constexpr std::size_t kMaxLibraryMessageBytes = 4096;

    // Common rules are expanded by date arithmetic; with arithmeticRecurrences false every rule goes through
    // libical's iterator (slower; kept to check the arithmetic against). queryBudgetPerFile bounds libical's
    // stepping per file and query.
    explicit ICalendarEventStore(Locations locations, bool arithmeticRecurrences = true,
                                 std::chrono::milliseconds queryBudgetPerFile = kQueryBudgetPerFile);
    ~ICalendarEventStore();
    ICalendarEventStore(const ICalendarEventStore&) = delete;
    ICalendarEventStore& operator=(const ICalendarEventStore&) = delete;

    // The events (a series counts once) of an iCalendar text; nothing when it is not one. Quiet like queries.
    static std::optional<std::size_t> countEvents(const std::string& text);
    // The calendar files currently present and read, in a stable order.
    std::vector<std::filesystem::path> calendarFiles() const;
    // Every calendar file present, read or not, with what it holds.
    std::vector<FileSummary> fileSummaries();
    // Files read besides the folders, as the user linked them.
    void setLinkedFiles(std::vector<std::filesystem::path> files);
    // Evolution calendars (by folder name, the source's UID) left unread: the desktop service reads them.
    void setSkippedEvolutionCalendars(std::set<std::string> uids);
    // Files left unread: the user switched them off.
    void setDisabledFiles(std::set<std::filesystem::path> files);
    // Occurrences intersecting [start, end) (a zero-length one counts when it starts inside), sorted stably by
    // start. Never throws; unreadable files contribute nothing.
    std::vector<StoredCalendarEvent> eventsBetween(Date start, Date end);
    // What libical printed during the last query that printed anything (its first kMaxLibraryMessageBytes).
    std::string libraryMessages();

private:
    std::vector<std::pair<std::filesystem::path, CalendarSourceKind>> presentFiles() const;

    const Locations m_locations;
    const bool m_arithmeticRecurrences;
    const std::chrono::milliseconds m_queryBudgetPerFile;
    std::mutex m_mutex;
    CalendarFileCache m_files;
    std::string m_libraryMessages;
    // Guarded by m_settingsMutex, which is never held while m_mutex is taken.
    mutable std::mutex m_settingsMutex;
    std::vector<std::filesystem::path> m_linkedFiles;
    std::set<std::string> m_skippedEvolution;
    std::set<std::filesystem::path> m_disabledFiles;
};

} // namespace tc
