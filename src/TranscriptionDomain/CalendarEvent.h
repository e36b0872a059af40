#pragma once

#include "TranscriptionDomain/ReferenceDate.h"

#include <cstddef>
#include <string>

namespace tc {

// One event of the user's calendar.
struct CalendarEvent {
    // The calendar's own identifier of the event.
    std::string id;
    std::string title;
    Date start = 0;
    Date end = 0;
    // For a recurring event with many occurrences that day: the number of further occurrences after this one
    // that the day's list leaves out (it lists the first few of a series only); 0 otherwise.
    std::size_t moreOccurrences = 0;

    friend bool operator==(const CalendarEvent&, const CalendarEvent&) = default;
};

} // namespace tc
