#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace tc {

class CalendarSourcesModel;

// The "カレンダー" page: every calendar the sidebar reads, each with its kind, event count, last update, a
// switch and (for subscriptions and linked files) a remove button; below, "ファイルを追加…" (imported as a copy or
// linked where it is) and an iCalendar address to subscribe to. Main thread only.
class CalendarSourcesSection : public QWidget {
    Q_OBJECT
public:
    explicit CalendarSourcesSection(CalendarSourcesModel* model, QWidget* parent = nullptr);

    CalendarSourcesModel* model() const { return m_model; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showRows();
    void showMessage();
    void chooseFile();

    CalendarSourcesModel* m_model;
    QWidget* m_list;
    QVBoxLayout* m_listLayout;
    // 0: copy into the calendars folder, 1: link where it is.
    QComboBox* m_fileMode;
    // Where the file dialog opens: the folder of the last file chosen, the home folder at first.
    QString m_fileFolder;
    QLineEdit* m_address;
    QPushButton* m_subscribe;
    QLabel* m_message;
};

} // namespace tc
