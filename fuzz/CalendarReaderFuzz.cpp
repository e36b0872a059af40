// A calendar file dropped into the calendars folder, and the day query the sidebar makes over it; the same bytes
// as a subscription's body, checked as a refresh checks it before keeping the copy (an imported or linked file
// gets the same check). The kept copy is then read by the folder reader below, as the calendars folder is.
#include "FuzzInput.h"

#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)tc::ICalendarEventStore::countEvents(std::string(reinterpret_cast<const char*>(data), size));
    const auto folder = tc::fuzz::scratchFolder() / "calendars";
    std::filesystem::create_directories(folder);
    tc::fuzz::writeFile(folder / "fuzz.ics", data, size);
    // A fresh store each time: the store keeps a parsed file until its size or time changes.
    tc::ICalendarEventStore store(tc::ICalendarEventStore::Locations{folder, std::nullopt});
    // 2026-12-07 local day and the week around it, in seconds since 2001-01-01.
    constexpr tc::Date day = 818294400.0;
    (void)store.eventsBetween(day, day + 86400.0);
    (void)store.eventsBetween(day - 3 * 86400.0, day + 4 * 86400.0);
    return 0;
}
