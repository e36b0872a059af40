#pragma once

#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <chrono>
#include <vector>

namespace tc {

// Lists the occurrences of calendar entries in a window, within what one file may spend on one query: a deadline
// and a number of libical iterator steps, shared by all its rules. Rules left over once it is spent yield nothing.
class RecurrenceExpander {
public:
    // libical iterator steps one file may spend on one query, all rules together.
    static constexpr long long kMaxRecurrenceStepsPerFile = 200'000;

    // With arithmetic false every rule goes through libical's iterator.
    RecurrenceExpander(std::chrono::steady_clock::time_point deadline, bool arithmetic);

    // Appends the occurrences of `entry` intersecting [from, to) (Unix seconds): at most kMaxOccurrencesPerSeries
    // of a series, the last one counting the rest.
    void expand(const CalendarEntry& entry, double from, double to, std::vector<StoredCalendarEvent>& out);

private:
    friend class RecurrenceExpansion;

    // True once the deadline or the steps are used up; stays true.
    bool budgetSpent();
    // Counts one step; reads the clock only every 64 steps. True when the budget is spent.
    bool takeStep();

    const std::chrono::steady_clock::time_point m_deadline;
    const bool m_arithmetic;
    long long m_stepsLeft = kMaxRecurrenceStepsPerFile;
};

} // namespace tc
