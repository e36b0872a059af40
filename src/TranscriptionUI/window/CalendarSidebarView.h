#pragma once

#include "TranscriptionDomain/ReferenceDate.h"

#include <QWidget>

#include <cstddef>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace tc {

class CalendarBrowsing;
class CalendarEventRowView;
class HistoryAutosave;
class SessionTranscript;

// The calendar sidebar: the day with buttons to the previous and next day, then the way to allow the calendar,
// "no events" with where events come from and a button to add a calendar, or the day's rows, at most ten per
// series followed by "ほか N 件". Choosing an event browses it.
// A new line only marks the rows it falls into; the rows are rebuilt when the day, its events, the history or
// the browsed event change. Main thread only.
class CalendarSidebarView : public QWidget {
    Q_OBJECT
public:
    // Shows the calendar's day and events; `transcript` and `history` only tell which events hold lines.
    CalendarSidebarView(CalendarBrowsing& calendar, const SessionTranscript& transcript, const HistoryAutosave& history,
                        QWidget* parent = nullptr);

    // The day as "M/d (E)" in Japanese.
    static QString dateText(Date date);
    const std::vector<CalendarEventRowView*>& eventRows() const { return m_rows; }
    // The "ほか N 件" rows now shown.
    const std::vector<QLabel*>& moreRows() const { return m_moreRows; }
    // The empty day's line naming the calendars read, or saying there are none.
    QLabel* sourcesLabel() const { return m_sourcesLabel; }
    QPushButton* addSourceButton() const { return m_addSource; }
    // "予定の読み込み元: A、B", or how to add a calendar when there is none.
    static QString sourcesText(const std::vector<std::string>& names);

signals:
    // The empty day's "カレンダーを追加…": the settings' calendar page should open.
    void addSourceRequested();

private:
    void refreshHeader();
    void rebuild();
    void markArrivedLines();

    CalendarBrowsing& m_calendar;
    const SessionTranscript& m_transcript;
    const HistoryAutosave& m_history;
    QLabel* m_dateLabel = nullptr;
    QStackedWidget* m_stack = nullptr;
    QWidget* m_eventList = nullptr;
    QVBoxLayout* m_eventLayout = nullptr;
    QLabel* m_sourcesLabel = nullptr;
    QPushButton* m_addSource = nullptr;
    std::vector<CalendarEventRowView*> m_rows;
    std::vector<QLabel*> m_moreRows;
    std::size_t m_seenCurrentLines = 0;
};

} // namespace tc
