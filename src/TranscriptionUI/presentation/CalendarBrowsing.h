#pragma once

#include "TranscriptionApplication/CalendarAuthorizationStatus.h"
#include "TranscriptionApplication/CalendarProvider.h"
#include "TranscriptionDomain/CalendarEvent.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptSession.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class MainThreadHop;
class SerialWorker;

// The sidebar's day, its calendar events and the event being browsed. The calendar is only read on a worker,
// so a slow calendar never holds up the main thread; when the calendar reports a change, the day is read again. Main thread only; operations marked async call `done` on
// the main thread when finished.
class CalendarBrowsing : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void()>;

    // The sidebar starts on the local day of `today`.
    CalendarBrowsing(std::shared_ptr<CalendarProvider> calendar, std::shared_ptr<MainThreadHop> hop, Date today);
    ~CalendarBrowsing() override;

    CalendarAuthorizationStatus status() const { return m_status; }
    // Always the start of a local day.
    Date day() const { return m_day; }
    const std::vector<CalendarEvent>& dayEvents() const { return m_dayEvents; }
    // Where the events come from, read with them ("仕事（デスクトップのアカウント）").
    const std::vector<std::string>& sourceNames() const { return m_sourceNames; }
    const std::optional<CalendarEvent>& browsingEvent() const { return m_browsingEvent; }
    void setBrowsingEvent(std::optional<CalendarEvent> event);

    // Reads the access status, then the day's events. async.
    void refresh(Done done = {});
    // Moves the day by calendar days and reloads its events. async.
    void moveDay(int days, Done done = {});
    // Fills dayEvents for day() (empty unless granted); a reply for a day left meanwhile is dropped. async.
    void loadDayEvents(Done done = {});
    // Asks for access, re-reads the status and reloads the events. async.
    void requestAccess(Done done = {});
    // Forgets the access the user gave: the status reads again, the day's events and the browsed event are
    // cleared at once. async.
    void withdrawAccess(Done done = {});
    // Stops answering: pending reads are dropped and the calendar's changes no longer reach it.
    void close();

    // The lines inside the event (bounds inclusive), earliest first.
    static std::vector<FinalizedLine> linesIn(const CalendarEvent& event, const std::vector<FinalizedLine>& current,
                                              const std::vector<TranscriptSession>& past);
    static bool hasLines(const CalendarEvent& event, const std::vector<FinalizedLine>& current,
                         const std::vector<TranscriptSession>& past);
    // Start of the local day holding the date.
    static Date startOfLocalDay(Date date);

signals:
    void statusChanged();
    void dayChanged();
    void dayEventsChanged();
    void sourceNamesChanged();
    void browsingEventChanged();

private:
    // Changes come in bursts (a calendar listing itself, a subscription round): one reload follows them.
    static constexpr int kChangeSettleMilliseconds = 150;

    std::shared_ptr<CalendarProvider> m_calendar;
    std::shared_ptr<MainThreadHop> m_hop;
    std::unique_ptr<SerialWorker> m_worker;
    CalendarAuthorizationStatus m_status = CalendarAuthorizationStatus::undetermined;
    Date m_day = 0;
    std::vector<CalendarEvent> m_dayEvents;
    std::vector<std::string> m_sourceNames;
    QTimer m_changeSettle;
    std::optional<CalendarEvent> m_browsingEvent;
};

} // namespace tc
