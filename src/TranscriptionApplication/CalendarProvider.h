#pragma once

#include "TranscriptionApplication/CalendarAuthorizationStatus.h"
#include "TranscriptionDomain/CalendarEvent.h"
#include "TranscriptionDomain/ReferenceDate.h"

#include <functional>
#include <string>
#include <vector>

namespace tc {

// The user's calendar. Thread-safe; the blocking calls belong off the UI thread.
class CalendarProvider {
public:
    virtual ~CalendarProvider() = default;

    // The current authorization, without asking the user.
    virtual CalendarAuthorizationStatus authorizationStatus() = 0;
    // Asks for access if needed; true when access is granted.
    virtual bool requestAccess() = 0;
    // Forgets the access the user gave: no events until access is asked for again.
    virtual void withdrawAccess() = 0;
    // The events of the local day containing the given instant; empty without access.
    virtual std::vector<CalendarEvent> eventsOnDay(Date day) = 0;
    // Calls `changed` (on any thread, never after a later call replaced it) whenever events may have changed
    // while the app runs; an empty function stops it. The default never calls.
    virtual void setChangeHandler(std::function<void()> changed) { (void)changed; }
    // The calendars read now, as the user knows them ("仕事（デスクトップのアカウント）"); may block briefly.
    virtual std::vector<std::string> sourceNames() { return {}; }
};

} // namespace tc
