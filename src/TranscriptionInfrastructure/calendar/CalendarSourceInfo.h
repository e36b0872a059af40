#pragma once

#include "TranscriptionDomain/ReferenceDate.h"

#include <cstddef>
#include <optional>
#include <string>

namespace tc {

// Where a calendar's events come from.
enum class CalendarSourceKind {
    // A calendar of the desktop's accounts (Evolution Data Server: online accounts, CalDAV, local calendars).
    desktopAccount,
    // A web calendar read from its iCalendar address.
    subscription,
    // A .ics file the user linked; it stays where it is.
    linkedFile,
    // A .ics file in the app's calendars folder (dropped there or imported).
    calendarsFolder,
    // A calendar.ics of Evolution's local calendars, read as a file when the desktop's service is not running.
    evolutionFile,
};

// One calendar the app reads, as the settings list it.
struct CalendarSourceInfo {
    // Stable across runs: "eds:<uid>", "subscription:<id>", "file:<path>".
    std::string id;
    std::string name;
    CalendarSourceKind kind = CalendarSourceKind::calendarsFolder;
    // Events (series count once) the calendar holds; nothing while it has not been read.
    std::optional<std::size_t> eventCount;
    // When the app last read a good copy; nothing before the first.
    std::optional<Date> lastUpdate;
    bool enabled = true;
    // Why the last read failed, in Japanese, saying what to do; empty when it worked.
    std::string problem;

    friend bool operator==(const CalendarSourceInfo&, const CalendarSourceInfo&) = default;
};

// "デスクトップのアカウント", "購読", "リンクしたファイル", "カレンダーフォルダ", "Evolution のファイル".
const char* calendarSourceKindName(CalendarSourceKind kind);

} // namespace tc
