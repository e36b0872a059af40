#include "TranscriptionUI/presentation/CalendarDayRows.h"

#include <algorithm>
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
    struct Series {
        std::size_t total = 0;
        std::size_t leftOutByCalendar = 0;
        std::size_t shown = 0;
    };
    std::unordered_map<std::string, Series> series;
    std::vector<Series*> of;
    of.reserve(events.size());
    for (const auto& event : events) {
        Series& s = series[calendarSeriesKey(event.id)];
        ++s.total;
        s.leftOutByCalendar += event.moreOccurrences;
        of.push_back(&s);
    }
    std::vector<CalendarDayRow> rows;
    for (std::size_t i = 0; i < events.size(); ++i) {
        Series& s = *of[i];
        if (s.shown >= perSeries) continue;
        ++s.shown;
        rows.push_back(CalendarDayRow{CalendarDayRow::Kind::event, events[i], 0});
        const std::size_t hidden = (s.total > perSeries ? s.total - perSeries : 0) + s.leftOutByCalendar;
        if (s.shown == std::min(s.total, perSeries) && hidden > 0)
            rows.push_back(CalendarDayRow{CalendarDayRow::Kind::more, {}, static_cast<std::int64_t>(hidden)});
    }
    return rows;
}

} // namespace tc
