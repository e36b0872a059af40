#pragma once

#include "TranscriptionDomain/ReferenceDate.h"

#include <string>

namespace tc {

// One event of the user's calendar.
struct CalendarEvent {
    // The calendar's own identifier of the event.
    std::string id;
    std::string title;
    Date start = 0;
    Date end = 0;

    friend bool operator==(const CalendarEvent&, const CalendarEvent&) = default;
};

} // namespace tc
