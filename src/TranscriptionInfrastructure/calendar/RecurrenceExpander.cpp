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

// Visits the instances of an arithmetic rule whose wall dates lie near [from, to), in order, honouring COUNT and
// UNTIL; one walk per frequency.
template <class Visit>
class ArithmeticWalk {
public:
    ArithmeticWalk(const CalendarEntry& entry, const RecurrenceRules::SimpleRule& rule, double from, double to,
                   Visit visit)
        : m_entry(entry), m_rule(rule), m_start(entry.start.value), m_visit(std::move(visit))
    {
        m_first = RecurrenceRules::daysFromCivil(m_start.year, static_cast<unsigned>(m_start.month),
                                                 static_cast<unsigned>(m_start.day));
        const double longest = entry.allDay ? (entry.lengthDays + 2) * kDay : entry.lengthSeconds;
        // Wall dates are less than a day away from UTC dates; two days either side cover every zone.
        m_dayLo = static_cast<long long>(std::floor((from - longest) / kDay)) - 2;
        m_dayHi = static_cast<long long>(std::floor(to / kDay)) + 2;
        if (rule.until) m_untilUnix = untilUnix(*rule.until);
    }

    void run()
    {
        if (m_dayHi < m_first) return;
        switch (m_rule.freq) {
        case ICAL_DAILY_RECURRENCE: daily(); return;
        case ICAL_WEEKLY_RECURRENCE: weekly(); return;
        case ICAL_MONTHLY_RECURRENCE: monthly(); return;
        case ICAL_YEARLY_RECURRENCE: yearly(); return;
        default: return;
        }
    }

private:
    double untilUnix(const icaltimetype& until) const
    {
        // Only all-day series end on a date: a timed one's date was made its last second when read.
        if (until.is_date) return CalendarEntry::unixOf(FileTime{until, nullptr});
        return CalendarEntry::unixOf(FileTime{until, icaltime_is_utc(until) ? nullptr : m_entry.start.zone});
    }

    // Visits the index-th instance on `day` when it is near the window; false once COUNT or UNTIL ends the rule.
    bool instance(long long day, long long index)
    {
        if (m_rule.count > 0 && index >= m_rule.count) return false;
        FileTime time = m_entry.start;
        RecurrenceRules::civilFromDays(day, time.value.year, time.value.month, time.value.day);
        if (m_rule.until && CalendarEntry::unixOf(time) > m_untilUnix) return false;
        if (day >= m_dayLo) m_visit(time);
        return true;
    }

    // The first step of `stepLength` that can reach `distance`; 0 when the window starts before the rule.
    static long long firstStep(long long distance, long long stepLength)
    {
        return distance <= 0 ? 0 : distance / stepLength;
    }

    // The first day of the month or year the window starts in.
    void windowStart(int& year, int& month) const
    {
        int day = 0;
        RecurrenceRules::civilFromDays(m_dayLo, year, month, day);
    }

    void daily()
    {
        for (long long k = firstStep(m_dayLo - m_first, m_rule.interval);; ++k) {
            const long long day = m_first + k * m_rule.interval;
            if (day > m_dayHi || !instance(day, k)) return;
        }
    }

    void weekly()
    {
        const auto onListedDay = [&](long long day) {
            return (m_rule.weekdays & (1u << RecurrenceRules::weekdayOf(day))) != 0;
        };
        const auto weekOf = [&](long long day) {
            return day - (RecurrenceRules::weekdayOf(day) - m_rule.weekStart + 7) % 7;
        };
        const long long firstWeek = weekOf(m_first);
        const int perWeek = std::popcount(m_rule.weekdays);
        int inFirstWeek = 0;
        for (long long day = m_first; day < firstWeek + 7; ++day)
            if (onListedDay(day)) ++inFirstWeek;
        for (long long n = firstStep(weekOf(m_dayLo) - firstWeek, 7 * m_rule.interval);; ++n) {
            const long long week = firstWeek + 7 * m_rule.interval * n;
            if (week > m_dayHi) return;
            long long index = n == 0 ? 0 : inFirstWeek + (n - 1) * perWeek;
            for (long long day = week; day < week + 7; ++day) {
                if (day < m_first || !onListedDay(day)) continue;
                if (day > m_dayHi || !instance(day, index)) return;
                ++index;
            }
        }
    }

    void monthly()
    {
        int loYear = 0, loMonth = 0;
        windowStart(loYear, loMonth);
        const long long firstMonth = m_start.year * 12LL + m_start.month - 1;
        for (long long k = firstStep(loYear * 12LL + loMonth - 1 - firstMonth, m_rule.interval);; ++k) {
            const long long month = firstMonth + k * m_rule.interval;
            const int year = static_cast<int>(month / 12);
            const int monthOfYear = static_cast<int>(month % 12) + 1;
            long long day = 0;
            if (m_rule.nthPosition != 0) {
                day = RecurrenceRules::nthWeekdayOfMonth(year, monthOfYear, m_rule.nthPosition, m_rule.nthWeekday);
            } else {
                if (RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(monthOfYear), 1) > m_dayHi) return;
                if (m_rule.monthDay > RecurrenceRules::daysInMonth(year, monthOfYear)) continue;
                day = RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(monthOfYear),
                                                     static_cast<unsigned>(m_rule.monthDay));
            }
            if (day < m_first) continue;
            if (day > m_dayHi || !instance(day, k)) return;
        }
    }

    void yearly()
    {
        int loYear = 0, loMonth = 0;
        windowStart(loYear, loMonth);
        for (long long k = firstStep(loYear - m_start.year, m_rule.interval);; ++k) {
            const int year = static_cast<int>(m_start.year + k * m_rule.interval);
            if (RecurrenceRules::daysFromCivil(year, 1, 1) > m_dayHi) return;
            if (m_start.day > RecurrenceRules::daysInMonth(year, m_start.month)) continue;
            const long long day = RecurrenceRules::daysFromCivil(year, static_cast<unsigned>(m_start.month),
                                                                 static_cast<unsigned>(m_start.day));
            if (day > m_dayHi || !instance(day, k)) return;
        }
    }

    const CalendarEntry& m_entry;
    const RecurrenceRules::SimpleRule& m_rule;
    const icaltimetype& m_start;
    Visit m_visit;
    long long m_first = 0;
    long long m_dayLo = 0;
    long long m_dayHi = 0;
    // Unix seconds of UNTIL, when the rule has one.
    double m_untilUnix = 0;
};

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

// One entry's expansion into the window: the occurrences seen so far, without EXDATEs and duplicates.
class RecurrenceExpansion {
public:
    RecurrenceExpansion(RecurrenceExpander& expander, const CalendarEntry& entry, double from, double to)
        : m_expander(expander), m_entry(entry), m_from(from), m_to(to),
          m_firstStart(CalendarEntry::unixOf(entry.start)),
          m_longest(entry.allDay ? (entry.lengthDays + 2) * kDay : entry.lengthSeconds)
    {}

    // An entry with a RECURRENCE-ID: the one instance it moves, or nothing when it cancels it.
    void replacement(std::vector<StoredCalendarEvent>& out)
    {
        if (m_entry.cancelled) return;
        const double end = m_entry.endOf(m_entry.start, m_firstStart);
        if (!intersects(m_firstStart, end, m_from, m_to)) return;
        emit(m_firstStart, end, false);
        m_series.moveInto(out);
        out.back().recurrenceID = utcText(*m_entry.replacesInstanceAt);
    }

    void single(std::vector<StoredCalendarEvent>& out)
    {
        emit(m_firstStart, m_entry.endOf(m_entry.start, m_firstStart), false);
        m_series.moveInto(out);
    }

    void series(std::vector<StoredCalendarEvent>& out)
    {
        for (std::size_t i = 0; i < m_entry.rules.size(); ++i) {
            const auto& rule = m_entry.rules[i];
            if (m_expander.m_arithmetic && m_entry.simpleRules[i]) {
                ArithmeticWalk walk(m_entry, *m_entry.simpleRules[i], m_from, m_to,
                                    [&](const FileTime& time) { occurrence(time, std::nullopt); });
                walk.run();
            } else if (const auto step = RecurrenceRules::fixedStepSeconds(rule); step && !m_entry.allDay) {
                byFixedStep(rule, *step);
            } else {
                byIterator(i);
            }
        }
        // DTSTART is always the first instance, whether or not the rule would produce it.
        occurrence(m_entry.start, std::nullopt);
        for (const auto& [start, end] : m_entry.extraDates) {
            if (end) {
                occurrence(start, CalendarEntry::unixOf(*end));
            } else {
                FileTime time = start;
                time.value.is_date = m_entry.start.value.is_date;
                occurrence(time, std::nullopt);
            }
        }
        m_series.moveInto(out);
    }

private:
    void emit(double start, double end, bool isInstance)
    {
        if (!intersects(start, end, m_from, m_to)) return;
        StoredCalendarEvent event;
        event.uid = m_entry.uid;
        event.summary = m_entry.summary;
        event.start = dateFromUnixSeconds(start);
        event.end = dateFromUnixSeconds(std::max(start, end));
        event.isAllDay = m_entry.allDay;
        if (isInstance) event.recurrenceID = utcText(start);
        m_series.add(std::move(event));
    }

    // False for a start an EXDATE removes or another rule already gave.
    bool firstTimeAt(double startUnix)
    {
        const auto key = std::llround(startUnix);
        return !m_entry.excluded.count(key) && m_seen.insert(key).second;
    }

    void occurrence(const FileTime& start, std::optional<double> explicitEnd)
    {
        const double startUnix = CalendarEntry::unixOf(start);
        if (!firstTimeAt(startUnix)) return;
        emit(startUnix, explicitEnd ? *explicitEnd : m_entry.endOf(start, startUnix), true);
    }

    // A rule of fixed steps: the instances k = first..last intersect the window; the first few are listed, the rest
    // counted without their EXDATEs.
    void byFixedStep(const icalrecurrencetype& rule, double step)
    {
        long long first = std::max(0LL, static_cast<long long>(std::ceil((m_from - m_longest - m_firstStart) / step)));
        while (first > 0 && m_firstStart + (first - 1) * step + m_longest > m_from)
            --first;
        double lastStart = m_to;
        if (!icaltime_is_null_time(rule.until)) {
            const FileTime until{rule.until, icaltime_is_utc(rule.until) ? nullptr : m_entry.start.zone};
            lastStart = std::min(lastStart, std::nextafter(CalendarEntry::unixOf(until), 1e300));
        }
        long long last = static_cast<long long>(std::ceil((lastStart - m_firstStart) / step)) - 1;
        if (rule.count > 0) last = std::min<long long>(last, rule.count - 1);
        long long k = first;
        for (; k <= last && !m_series.full(); ++k) {
            const double startUnix = m_firstStart + static_cast<double>(k) * step;
            if (firstTimeAt(startUnix)) emit(startUnix, startUnix + m_entry.lengthSeconds, true);
        }
        if (k <= last) m_series.addUnlisted(unlistedWithoutExclusions(step, k, last));
    }

    std::size_t unlistedWithoutExclusions(double step, long long k, long long last) const
    {
        auto rest = static_cast<std::size_t>(last - k + 1);
        for (const long long excluded : m_entry.excluded) {
            const double offset = (static_cast<double>(excluded) - m_firstStart) / step;
            if (offset >= static_cast<double>(k) && offset <= static_cast<double>(last) &&
                std::abs(offset - std::round(offset)) < 1e-6 && rest > 0)
                --rest;
        }
        return rest;
    }

    // Any other rule, through libical's iterator, within the expander's budget.
    void byIterator(std::size_t i)
    {
        const auto& rule = m_entry.rules[i];
        if (m_entry.ruleHasNoInstance[i] || m_expander.budgetSpent()) return;
        IteratorPtr iterator(icalrecur_iterator_new(rule, m_entry.start.value));
        if (!iterator) {
            m_entry.ruleHasNoInstance[i] = 1;
            return;
        }
        // Skipping ahead is exact for daily and coarser rules without COUNT; finer rules walk from the start.
        const bool canSkip =
            rule.count == 0 && rule.freq >= ICAL_DAILY_RECURRENCE && rule.freq <= ICAL_YEARLY_RECURRENCE;
        const double skipTo = m_from - m_longest - 2 * kDay;
        if (canSkip && skipTo > m_firstStart)
            icalrecur_iterator_set_start(iterator.get(), CalendarEntry::wallTimeAt(skipTo, m_entry.start));
        while (!m_expander.takeStep()) {
            auto next = icalrecur_iterator_next(iterator.get());
            if (icaltime_is_null_time(next)) break;
            FileTime time{next, m_entry.start.zone};
            time.value.zone = m_entry.start.value.zone;
            time.value.is_date = m_entry.start.value.is_date;
            if (CalendarEntry::unixOf(time) >= m_to) break;
            occurrence(time, std::nullopt);
        }
    }

    RecurrenceExpander& m_expander;
    const CalendarEntry& m_entry;
    const double m_from;
    const double m_to;
    const double m_firstStart;
    const double m_longest;
    SeriesOccurrences m_series;
    std::set<long long> m_seen;
};

void RecurrenceExpander::expand(const CalendarEntry& entry, double from, double to,
                                std::vector<StoredCalendarEvent>& out)
{
    RecurrenceExpansion expansion(*this, entry, from, to);
    if (entry.replacesInstanceAt)
        expansion.replacement(out);
    else if (!entry.recurs())
        expansion.single(out);
    else
        expansion.series(out);
}

} // namespace tc
