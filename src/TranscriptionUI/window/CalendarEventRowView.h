#pragma once

#include "TranscriptionDomain/CalendarEvent.h"

#include <QAbstractButton>

namespace tc {

// One event of the sidebar's day: start time, title (semibold when lines fall inside it) and a speech
// bubble for events with lines; faded when it has none, tinted while it is the browsed event.
class CalendarEventRowView : public QAbstractButton {
    Q_OBJECT
public:
    CalendarEventRowView(CalendarEvent event, bool hasLines, bool isSelected, QWidget* parent = nullptr);

    const CalendarEvent& event() const { return m_event; }
    bool hasLines() const { return m_hasLines; }
    void setHasLines(bool hasLines);
    bool isSelected() const { return m_isSelected; }
    static QString formatStart(Date start);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CalendarEvent m_event;
    bool m_hasLines;
    bool m_isSelected;
};

} // namespace tc
