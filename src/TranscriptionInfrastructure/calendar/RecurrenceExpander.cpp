#include "TranscriptionInfrastructure/calendar/RecurrenceExpander.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <ctime>
#include <iterator>
#include <memory>
#include <set>

namespace tc {

namespace {

using FileTime = CalendarEntry::FileTime;

constexpr double kDay = 86400.0;

struct IteratorDeleter {
    void operator()(icalrecur_iterator* iterator) const { icalrecur_iterator_free(iterator); }
};
using IteratorPtr = std::unique_ptr<icalrecur_iterator, IteratorDeleter>;

std::string utcText(double unix)
{
    const auto seconds = static_cast<std::time_t>(std::floor(unix));
    std::tm fields{};
    gmtime_r(&seconds, &fields);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &fields);
    return buffer;
}

bool intersects(double start, double end, double from, double to)
{
    if (end <= start) return start >= from && start < to;
    return start < to && end > from;
}

// Visits the instances whose wall dates lie near [from, to), in order, honouring COUNT and UNTIL.
template <class Visit>
void expandSimple(const CalendarEntry& entry, const RecurrenceRules::SimpleRule& rule, double from, double to,
                  Visit visit)
{
    const auto& start = entry.start.value;
    const long long first = RecurrenceRules::daysFromCivil(start.year, static_cast<unsigned>(start.month),
                                                           static_cast<unsigned>(start.day));
    const double longest = entry.allDay ? (entry.lengthDays + 2) * kDay : entry.lengthSeconds;
    // Wall dates are less than a day away from UTC dates; two days either side cover every zone.
    const long long dayLo = static_cast<long long>(std::floor((from - longest) / kDay)) - 2;
    const long long dayHi = static_cast<long long>(std::floor(to / kDay)) + 2;
    if (dayHi < first) return;

    std::optional<double> untilUnix;
    if (rule.until) {
        if (rule.until->is_date)
            untilUnix = CalendarEntry::unixOf(FileTime{*rule.until, nullptr}) + (entry.allDay ? 0.0 : kDay - 1);
        else
            untilUnix =
                CalendarEntry::unixOf(FileTime{*rule.until, icaltime_is_utc(*rule.until) ? nullptr : entry.start.zone});
    }
    // False once COUNT or UNTIL ends the rule.
    auto instance = [&](long long day, long long index) {
        if (rule.count > 0 && index >= rule.count) return false;
        FileTime time = entry.start;
        RecurrenceRules::civilFromDays(day, time.value.year, time.value.month, time.value.day);
        if (untilUnix && CalendarEntry::unixOf(time) > *untilUnix) return false;
        if (day >= dayLo) visit(time);
        return true;
    };
    auto firstStep = [&](long long distance, long long stepLength) {
        return distance <= 0 ? 0 : distance / stepLength;
    };

    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        for (long long k = firstStep(dayLo - first, rule.interval);; ++k) {
            const long long day = first + k * rule.interval;
            if (day > dayHi || !instance(day, k)) return;
        }
    case ICAL_WEEKLY_RECURRENCE: {
        auto weekOf = [&](long long day) { return day - (RecurrenceRules::weekdayOf(day) - rule.weekStart + 7) % 7; };
        const long long firstWeek = weekOf(first);
        const int perWeek = std::popcount(rule.weekdays);
        int inFirstWeek = 0;
        for (long long day = first; day < firstWeek + 7; ++day)
            if (rule.weekdays & (1u << RecurrenceRules::weekdayOf(day))) ++inFirstWeek;
        for (long long n = firstStep(weekOf(dayLo) - firstWeek, 7 * rule.interval);; ++n) {
            const long long week = firstWeek + 7 * rule.interval * n;
            if (week > dayHi) return;
            long long index = n == 0 ? 0 : inFirstWeek + (n - 1) * perWeek;
            for (long long day = week; day < week + 7; ++day) {
                if (day < first || !(rule.weekdays & (1u << RecurrenceRules::weekdayOf(day)))) continue;
                if (day > dayHi || !instance(day, index)) return;
                ++index;
            }
        }
    }
    case ICAL_MONTHLY_RECURRENCE: {
        int loYear = 0, loMonth = 0, loDay = 0;
        RecurrenceRules::civilFromDays(dayLo, loYear, loMonth, loDay);
        const long long firstMonth = start.year * 12LL + start.month - 1;
        for (long long k = firstStep(loYear * 12LL + loMonth - 1 - firstMonth, rule.interval);; ++k) {
            const long long month = firstMonth + k * rule.interval;
            const int year = static_cast<int>(month / 12);
            const int monthOfYear = static_cast<int>(month % 12) + 1;
            long long day = 0;
            if (rule.nthPosition != 0) {
                day = RecurrenceRules::nthWeekdayOfMonth(year, monthOfYear, rule.nthPosition, rule.nthWeekday);
            } else {
                if (RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(monthOfYear), 1) > dayHi) return;
                if (rule.monthDay > RecurrenceRules::daysInMonth(year, monthOfYear)) continue;
                day = RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(monthOfYear),
                                                     static_cast<unsigned>(rule.monthDay));
            }
            if (day < first) continue;
            if (day > dayHi || !instance(day, k)) return;
        }
    }
    case ICAL_YEARLY_RECURRENCE: {
        int loYear = 0, loMonth = 0, loDay = 0;
        RecurrenceRules::civilFromDays(dayLo, loYear, loMonth, loDay);
        for (long long k = firstStep(loYear - start.year, rule.interval);; ++k) {
            const int year = static_cast<int>(start.year + k * rule.interval);
            if (RecurrenceRules::daysFromCivil(year, 1, 1) > dayHi) return;
            if (start.day > RecurrenceRules::daysInMonth(year, start.month)) continue;
            const long long day = RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(start.month),
                                                                 static_cast<unsigned>(start.day));
            if (day > dayHi || !instance(day, k)) return;
        }
    }
    default: return;
    }
}

// The earliest occurrences of one series in the window, at most kMaxOccurrencesPerSeries, and a count of the rest.
class SeriesOccurrences {
public:
    void add(StoredCalendarEvent event)
    {
        const auto later =
            std::upper_bound(m_kept.begin(), m_kept.end(), event.start,
                             [](Date start, const StoredCalendarEvent& kept) { return start < kept.start; });
        if (m_kept.size() == ICalendarEventStore::kMaxOccurrencesPerSeries) {
            ++m_more;
            if (later == m_kept.end()) return;
            m_kept.pop_back();
        }
        m_kept.insert(later, std::move(event));
    }
    void addUnlisted(std::size_t count) { m_more += count; }
    bool full() const { return m_kept.size() == ICalendarEventStore::kMaxOccurrencesPerSeries; }

    void moveInto(std::vector<StoredCalendarEvent>& out)
    {
        if (m_kept.empty()) return;
        m_kept.back().moreOccurrences = m_more;
        std::move(m_kept.begin(), m_kept.end(), std::back_inserter(out));
    }

private:
    std::vector<StoredCalendarEvent> m_kept;
    std::size_t m_more = 0;
};

} // namespace

RecurrenceExpander::RecurrenceExpander(std::chrono::steady_clock::time_point deadline, bool arithmetic)
    : m_deadline(deadline), m_arithmetic(arithmetic)
{}

bool RecurrenceExpander::budgetSpent()
{
    if (m_stepsLeft <= 0) return true;
    if (std::chrono::steady_clock::now() < m_deadline) return false;
    m_stepsLeft = 0;
    return true;
}

bool RecurrenceExpander::takeStep()
{
    --m_stepsLeft;
    return (m_stepsLeft & 63) == 0 ? budgetSpent() : m_stepsLeft <= 0;
}

void RecurrenceExpander::expand(const CalendarEntry& entry, double from, double to,
                                std::vector<StoredCalendarEvent>& out)
{
    SeriesOccurrences series;
    auto emit = [&](double start, double end, bool isInstance) {
        if (!intersects(start, end, from, to)) return;
        StoredCalendarEvent event;
        event.uid = entry.uid;
        event.summary = entry.summary;
        event.start = dateFromUnixSeconds(start);
        event.end = dateFromUnixSeconds(std::max(start, end));
        event.isAllDay = entry.allDay;
        if (isInstance) event.recurrenceID = utcText(start);
        series.add(std::move(event));
    };

    if (entry.replacesInstanceAt) {
        if (entry.cancelled) return;
        const double start = CalendarEntry::unixOf(entry.start);
        const double end = entry.endOf(entry.start, start);
        if (!intersects(start, end, from, to)) return;
        emit(start, end, false);
        series.moveInto(out);
        out.back().recurrenceID = utcText(*entry.replacesInstanceAt);
        return;
    }
    const double firstStart = CalendarEntry::unixOf(entry.start);
    if (!entry.recurs()) {
        emit(firstStart, entry.endOf(entry.start, firstStart), false);
        series.moveInto(out);
        return;
    }

    std::set<long long> seen;
    auto occurrence = [&](const FileTime& start, std::optional<double> explicitEnd) {
        const double startUnix = CalendarEntry::unixOf(start);
        const auto key = std::llround(startUnix);
        if (entry.excluded.count(key) || !seen.insert(key).second) return;
        emit(startUnix, explicitEnd ? *explicitEnd : entry.endOf(start, startUnix), true);
    };

    const double longest = entry.allDay ? (entry.lengthDays + 2) * kDay : entry.lengthSeconds;
    for (std::size_t i = 0; i < entry.rules.size(); ++i) {
        const auto& rule = entry.rules[i];
        if (m_arithmetic && entry.simpleRules[i]) {
            expandSimple(entry, *entry.simpleRules[i], from, to,
                         [&](const FileTime& time) { occurrence(time, std::nullopt); });
            continue;
        }
        if (const auto step = RecurrenceRules::fixedStepSeconds(rule); step && !entry.allDay) {
            // The instances k = first..last intersect the window; the first few are listed, the rest counted.
            long long first = std::max(0LL, static_cast<long long>(std::ceil((from - longest - firstStart) / *step)));
            while (first > 0 && firstStart + (first - 1) * *step + longest > from)
                --first;
            double lastStart = to;
            if (!icaltime_is_null_time(rule.until))
                lastStart =
                    std::min(lastStart,
                             std::nextafter(CalendarEntry::unixOf(FileTime{
                                                rule.until, icaltime_is_utc(rule.until) ? nullptr : entry.start.zone}),
                                            1e300));
            long long last = static_cast<long long>(std::ceil((lastStart - firstStart) / *step)) - 1;
            if (rule.count > 0) last = std::min<long long>(last, rule.count - 1);
            long long k = first;
            for (; k <= last && !series.full(); ++k) {
                const double startUnix = firstStart + static_cast<double>(k) * *step;
                if (entry.excluded.count(std::llround(startUnix)) || !seen.insert(std::llround(startUnix)).second)
                    continue;
                emit(startUnix, startUnix + entry.lengthSeconds, true);
            }
            if (k <= last) {
                auto rest = static_cast<std::size_t>(last - k + 1);
                for (const long long excluded : entry.excluded) {
                    const double offset = (static_cast<double>(excluded) - firstStart) / *step;
                    if (offset >= static_cast<double>(k) && offset <= static_cast<double>(last) &&
                        std::abs(offset - std::round(offset)) < 1e-6 && rest > 0)
                        --rest;
                }
                series.addUnlisted(rest);
            }
            continue;
        }
        if (entry.ruleHasNoInstance[i] || budgetSpent()) continue;
        IteratorPtr iterator(icalrecur_iterator_new(rule, entry.start.value));
        if (!iterator) {
            entry.ruleHasNoInstance[i] = 1;
            continue;
        }
        // Skipping ahead is exact for daily and coarser rules without COUNT; finer rules walk from the start.
        const bool canSkip =
            rule.count == 0 && rule.freq >= ICAL_DAILY_RECURRENCE && rule.freq <= ICAL_YEARLY_RECURRENCE;
        const double skipTo = from - longest - 2 * kDay;
        if (canSkip && skipTo > firstStart)
            icalrecur_iterator_set_start(iterator.get(), CalendarEntry::wallTimeAt(skipTo, entry.start));
        while (!takeStep()) {
            auto next = icalrecur_iterator_next(iterator.get());
            if (icaltime_is_null_time(next)) break;
            FileTime time{next, entry.start.zone};
            time.value.zone = entry.start.value.zone;
            time.value.is_date = entry.start.value.is_date;
            if (CalendarEntry::unixOf(time) >= to) break;
            occurrence(time, std::nullopt);
        }
    }
    // DTSTART is always the first instance, whether or not the rule would produce it.
    occurrence(entry.start, std::nullopt);
    for (const auto& [start, end] : entry.extraDates) {
        if (end) {
            occurrence(start, CalendarEntry::unixOf(*end));
        } else {
            FileTime time = start;
            time.value.is_date = entry.start.value.is_date;
            occurrence(time, std::nullopt);
        }
    }
    series.moveInto(out);
}

} // namespace tc
