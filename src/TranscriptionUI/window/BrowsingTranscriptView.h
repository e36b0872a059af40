#pragma once

#include <QWidget>

#include <cstddef>

class QLabel;

namespace tc {

class CalendarBrowsing;
class HistoryAutosave;
class ReadingPosition;
class SessionTranscript;
class TranscriptListView;

// The lines of the browsed calendar event from every session, under a banner with the event's title and a way
// back to the live transcript. A line arriving while browsing is added only when it falls inside the event;
// the whole list is gathered again only when the event or the history changes. Main thread only.
class BrowsingTranscriptView : public QWidget {
    Q_OBJECT
public:
    // Shows the event `calendar` browses, with the lines of `transcript` and `history` inside it; marks the line
    // `reading` highlights.
    BrowsingTranscriptView(CalendarBrowsing& calendar, const SessionTranscript& transcript,
                           const HistoryAutosave& history, const ReadingPosition& reading, double fontSize,
                           QWidget* parent = nullptr);

    TranscriptListView* list() const { return m_list; }
    QLabel* emptyLabel() const { return m_empty; }
    void setFontSize(double fontSize);

private:
    void reload();
    void addArrivedLines();
    void refreshEmpty();
    // Marks the highlighted line (a chosen search result) and brings it into view.
    void showHighlighted();

    CalendarBrowsing& m_calendar;
    const SessionTranscript& m_transcript;
    const HistoryAutosave& m_history;
    const ReadingPosition& m_reading;
    QLabel* m_title = nullptr;
    QLabel* m_empty = nullptr;
    TranscriptListView* m_list = nullptr;
    // How many lines of the current session the list has looked at.
    std::size_t m_seenCurrentLines = 0;
};

} // namespace tc
