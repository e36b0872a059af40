#pragma once

#include "TranscriptionDomain/CalendarEvent.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tc {

// One row of the sidebar's day: an event, or the count of a series' further events that are not shown.
struct CalendarDayRow {
    enum class Kind { event, more };

    Kind kind = Kind::event;
    // For an event row.
    CalendarEvent event;
    // For a more row: how many events of the series are left out.
    std::int64_t hiddenCount = 0;

    friend bool operator==(const CalendarDayRow&, const CalendarDayRow&) = default;
};

// A day holds at most this many rows per series; a rule repeating every second would otherwise fill the
// sidebar with tens of thousands of rows.
inline constexpr std::size_t kCalendarRowsPerSeries = 10;

// The series an event belongs to: the instances of one recurring event have ids "<UID>/<start as
// yyyyMMddTHHmmssZ>", so the series is the part before that suffix; any other id is a series of its own.
std::string calendarSeriesKey(const std::string& eventID);

// The day's rows in the events' order: the first `perSeries` events of each series, then, right after the last
// one shown, a more row counting the rest of that series: those left out here plus those the calendar already
// left out (CalendarEvent::moreOccurrences).
std::vector<CalendarDayRow> calendarDayRows(const std::vector<CalendarEvent>& events,
                                            std::size_t perSeries = kCalendarRowsPerSeries);

} // namespace tc
