#include "TranscriptionUI/presentation/CalendarDayRows.h"

#include <cctype>
#include <string_view>
#include <unordered_map>

namespace tc {

namespace {

// "yyyyMMddTHHmmssZ"
bool isUtcStamp(std::string_view text)
{
    if (text.size() != 16 || text[8] != 'T' || text[15] != 'Z') return false;
    for (std::size_t i = 0; i < 15; ++i) {
        if (i == 8) continue;
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

} // namespace

std::string calendarSeriesKey(const std::string& eventID)
{
    const auto slash = eventID.rfind('/');
    if (slash == std::string::npos || slash == 0) return eventID;
    if (!isUtcStamp(std::string_view(eventID).substr(slash + 1))) return eventID;
    return eventID.substr(0, slash);
}

std::vector<CalendarDayRow> calendarDayRows(const std::vector<CalendarEvent>& events, std::size_t perSeries)
{
    std::unordered_map<std::string, std::size_t> totals;
    std::vector<std::string> keys;
    keys.reserve(events.size());
    for (const auto& event : events) {
        keys.push_back(calendarSeriesKey(event.id));
        ++totals[keys.back()];
    }
    std::unordered_map<std::string, std::size_t> shown;
    std::vector<CalendarDayRow> rows;
    for (std::size_t i = 0; i < events.size(); ++i) {
        auto& count = shown[keys[i]];
        if (count >= perSeries) continue;
        ++count;
        rows.push_back(CalendarDayRow{CalendarDayRow::Kind::event, events[i], 0});
        const auto total = totals[keys[i]];
        if (count == perSeries && total > perSeries)
            rows.push_back(
                CalendarDayRow{CalendarDayRow::Kind::more, {}, static_cast<std::int64_t>(total - perSeries)});
    }
    return rows;
}

} // namespace tc
