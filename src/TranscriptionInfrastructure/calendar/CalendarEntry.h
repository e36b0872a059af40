#pragma once

#include "TranscriptionInfrastructure/calendar/RecurrenceRules.h"

#include <libical/ical.h>

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tc {

// One event component, read once so a day query does not walk the parse tree again.
struct CalendarEntry {
    // A time as the file gives it: wall-clock fields plus how to read them.
    struct FileTime {
        icaltimetype value = icaltime_null_time();
        // Null for floating times and dates: those are local to the process's time zone.
        icaltimezone* zone = nullptr;
    };

    std::optional<std::string> uid;
    std::optional<std::string> summary;
    FileTime start;
    bool allDay = false;
    int lengthDays = 0;
    double lengthSeconds = 0;
    std::vector<icalrecurrencetype> rules;
    // Parallel to rules: the arithmetic form when the rule has one.
    std::vector<std::optional<RecurrenceRules::SimpleRule>> simpleRules;
    // Parallel to rules: set once libical found no instance at all (its answer never changes, and finding out can
    // cost a quarter of a second). Written during queries, under the store's mutex.
    mutable std::vector<char> ruleHasNoInstance;
    std::vector<std::pair<FileTime, std::optional<FileTime>>> extraDates;
    std::unordered_set<long long> excluded;
    // Set for an overridden instance of a recurring event.
    std::optional<double> replacesInstanceAt;
    bool cancelled = false;

    // True when rules or extra dates make this a series.
    bool recurs() const { return !rules.empty() || !extraDates.empty(); }
    // The end, in Unix seconds, of the occurrence starting at `occurrence` (= occurrenceUnix).
    double endOf(const FileTime& occurrence, double occurrenceUnix) const;

    // Every usable event under a parsed file's root; overridden instances leave their master's expansion.
    // Broken events are skipped.
    static std::vector<CalendarEntry> readAll(icalcomponent* root);
    // Unix seconds of a file time; floating times and dates are read in the process's local zone.
    static double unixOf(const FileTime& time);
    // The wall-clock fields in the time's own zone at the given instant.
    static icaltimetype wallTimeAt(double unix, const FileTime& like);
};

} // namespace tc
