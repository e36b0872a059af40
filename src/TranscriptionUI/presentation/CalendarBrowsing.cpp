#include "TranscriptionUI/presentation/CalendarBrowsing.h"

#include "TranscriptionUI/presentation/ObservedValue.h"

#include <QDate>
#include <QDateTime>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

QDateTime localDateTime(Date date)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSecondsFromDate(date) * 1000.0)));
}

Date dateFromDateTime(const QDateTime& time)
{
    return dateFromUnixSeconds(static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0);
}

bool inside(const CalendarEvent& event, const FinalizedLine& line)
{
    return event.start <= line.time && line.time <= event.end;
}

} // namespace

CalendarBrowsing::CalendarBrowsing(std::shared_ptr<CalendarProvider> calendar, std::shared_ptr<MainThreadHop> hop,
                                   Date today)
    : m_calendar(std::move(calendar)), m_hop(std::move(hop)), m_worker(std::make_unique<SerialWorker>()),
      m_day(startOfLocalDay(today))
{
    m_changeSettle.setSingleShot(true);
    m_changeSettle.setInterval(kChangeSettleMilliseconds);
    connect(&m_changeSettle, &QTimer::timeout, this, [this] { loadDayEvents(); });
    m_calendar->setChangeHandler([hop = m_hop, self = QPointer<CalendarBrowsing>(this)] {
        hop->post([self] {
            if (self && self->m_worker) self->m_changeSettle.start();
        });
    });
}

CalendarBrowsing::~CalendarBrowsing()
{
    close();
}

void CalendarBrowsing::close()
{
    if (m_calendar) m_calendar->setChangeHandler({});
    m_changeSettle.stop();
    m_worker.reset();
}

Date CalendarBrowsing::startOfLocalDay(Date date)
{
    return dateFromDateTime(localDateTime(date).date().startOfDay());
}

void CalendarBrowsing::setBrowsingEvent(std::optional<CalendarEvent> event)
{
    assignObserved(this, m_browsingEvent, std::move(event), &CalendarBrowsing::browsingEventChanged);
}

void CalendarBrowsing::refresh(Done done)
{
    if (!m_worker) return;
    runOffMain<CalendarAuthorizationStatus>(
        *m_worker, m_hop, [calendar = m_calendar](std::stop_token) { return calendar->authorizationStatus(); },
        [this, done = std::move(done)](CalendarAuthorizationStatus status) mutable {
            assignObserved(this, m_status, status, &CalendarBrowsing::statusChanged);
            loadDayEvents(std::move(done));
        });
}

void CalendarBrowsing::moveDay(int days, Done done)
{
    const QDate day = localDateTime(m_day).date().addDays(days);
    const QDateTime start = day.isValid() ? day.startOfDay() : QDateTime();
    if (!start.isValid()) {
        if (done) done();
        return;
    }
    assignObserved(this, m_day, dateFromDateTime(start), &CalendarBrowsing::dayChanged);
    loadDayEvents(std::move(done));
}

void CalendarBrowsing::loadDayEvents(Done done)
{
    if (m_status != CalendarAuthorizationStatus::granted || !m_worker) {
        assignObserved(this, m_dayEvents, std::vector<CalendarEvent>{}, &CalendarBrowsing::dayEventsChanged);
        if (done) done();
        return;
    }
    using Read = std::pair<std::vector<CalendarEvent>, std::vector<std::string>>;
    runOffMain<Read>(
        *m_worker, m_hop,
        [calendar = m_calendar, day = m_day](std::stop_token) {
            auto events = calendar->eventsOnDay(day);
            return Read{std::move(events), calendar->sourceNames()};
        },
        [this, day = m_day, done = std::move(done)](Read read) {
            assignObserved(this, m_sourceNames, std::move(read.second), &CalendarBrowsing::sourceNamesChanged);
            // The user may have moved on while a slow calendar was read; its reply would show the wrong day.
            if (day == m_day)
                assignObserved(this, m_dayEvents, std::move(read.first), &CalendarBrowsing::dayEventsChanged);
            if (done) done();
        });
}

void CalendarBrowsing::requestAccess(Done done)
{
    if (!m_worker) return;
    runOffMain<CalendarAuthorizationStatus>(
        *m_worker, m_hop,
        [calendar = m_calendar](std::stop_token) {
            calendar->requestAccess();
            return calendar->authorizationStatus();
        },
        [this, done = std::move(done)](CalendarAuthorizationStatus status) mutable {
            assignObserved(this, m_status, status, &CalendarBrowsing::statusChanged);
            loadDayEvents(std::move(done));
        });
}

void CalendarBrowsing::withdrawAccess(Done done)
{
    if (!m_worker) return;
    const auto clear = [this] {
        assignObserved(this, m_dayEvents, std::vector<CalendarEvent>{}, &CalendarBrowsing::dayEventsChanged);
        setBrowsingEvent(std::nullopt);
    };
    clear();
    runOffMain<CalendarAuthorizationStatus>(
        *m_worker, m_hop,
        [calendar = m_calendar](std::stop_token) {
            calendar->withdrawAccess();
            return calendar->authorizationStatus();
        },
        // A read queued before the withdrawal answers first: clearing again drops what it brought.
        [this, clear, done = std::move(done)](CalendarAuthorizationStatus status) {
            assignObserved(this, m_status, status, &CalendarBrowsing::statusChanged);
            clear();
            if (done) done();
        });
}

std::vector<FinalizedLine> CalendarBrowsing::linesIn(const CalendarEvent& event,
                                                     const std::vector<FinalizedLine>& current,
                                                     const std::vector<TranscriptSession>& past)
{
    std::vector<FinalizedLine> lines;
    const auto take = [&](const std::vector<FinalizedLine>& from) {
        std::copy_if(from.begin(), from.end(), std::back_inserter(lines),
                     [&](const FinalizedLine& line) { return inside(event, line); });
    };
    take(current);
    for (const auto& session : past)
        take(session.lines);
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return lines;
}

bool CalendarBrowsing::hasLines(const CalendarEvent& event, const std::vector<FinalizedLine>& current,
                                const std::vector<TranscriptSession>& past)
{
    const auto in = [&](const FinalizedLine& line) { return inside(event, line); };
    if (std::any_of(current.begin(), current.end(), in)) return true;
    return std::any_of(past.begin(), past.end(), [&](const TranscriptSession& session) {
        return std::any_of(session.lines.begin(), session.lines.end(), in);
    });
}

} // namespace tc
