#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QPushButton;

namespace tc {

class CalendarBrowsing;
class SourceAccess;

// The settings' "許可" page: each consent the app keeps (microphone, system audio, speech recognition,
// calendar) with its state, a button that gives it and one that withdraws it. Bound to the presentation objects
// that own them; main thread only.
class ConsentSection : public QWidget {
    Q_OBJECT
public:
    ConsentSection(SourceAccess* sources, CalendarBrowsing* calendar, QWidget* parent = nullptr);

private:
    struct Row {
        QLabel* state = nullptr;
        QPushButton* allow = nullptr;
        QPushButton* withdraw = nullptr;
    };
    Row addRow(QGridLayout* grid, int row, const QString& name, const QString& objectName);
    void showStates();

    SourceAccess* m_sources;
    CalendarBrowsing* m_calendar;
    Row m_microphone;
    Row m_systemAudio;
    Row m_speech;
    Row m_calendarRow;
};

} // namespace tc
