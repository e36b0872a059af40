#pragma once

#include "TranscriptionDomain/FinalizedLine.h"

#include <QWidget>

class QLabel;

namespace tc {

// One finalized line: its time (HH:mm:ss) and its text on a shared first baseline, both selectable, on a
// rounded background that shows the accent colour while the line is highlighted.
class TranscriptRowView : public QWidget {
    Q_OBJECT
public:
    TranscriptRowView(const FinalizedLine& line, double fontSize, QWidget* parent = nullptr);

    const Uuid& lineID() const { return m_id; }
    QString timeText() const;
    QString text() const;
    void setFontSize(double fontSize);
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return m_highlighted; }
    // The time as the window shows it, local time.
    static QString formatTime(Date time);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void alignBaselines();

    Uuid m_id;
    QLabel* m_time;
    QLabel* m_text;
    bool m_highlighted = false;
};

} // namespace tc
