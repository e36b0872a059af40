#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionInfrastructure/calendar/CalendarSourceInfo.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class CalendarSources;
class MainThreadHop;
class SerialWorker;

// What the settings' "カレンダー" page shows and changes, without widgets: every calendar source with its kind,
// event count, last update and switch, and the ways to add one (a .ics file imported or linked, an iCalendar
// address). The sources are read and changed on a worker; results come back by one queued hop, and a change
// reported by the sources reads the list again. Main thread only; `done` runs on the main thread.
class CalendarSourcesModel : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void()>;

    struct Row {
        QString id;
        QString name;
        QString kind;
        // "12 件・最終更新 3 時間前"
        QString detail;
        // Why the source could not be read, and what to do; empty when it could.
        QString problem;
        bool enabled = true;
        // Subscriptions and linked files can be removed; the others only switched off.
        bool removable = false;
        friend bool operator==(const Row&, const Row&) = default;
    };

    // Null sources: an empty list, and adding says the calendars are unavailable.
    explicit CalendarSourcesModel(std::shared_ptr<CalendarSources> sources, QObject* parent = nullptr);
    ~CalendarSourcesModel() override;

    const std::vector<Row>& rows() const { return m_rows; }
    // The outcome of the last action, for the user; empty when there is nothing to say.
    const QString& message() const { return m_message; }
    bool messageIsProblem() const { return m_messageIsProblem; }

    // Reads the list again. async.
    void refresh(Done done = {});
    void setEnabled(const QString& id, bool enabled, Done done = {});
    // Copies the file into the calendars folder. async.
    void importFile(const QString& file, Done done = {});
    // Reads the file where it is from now on. async.
    void linkFile(const QString& file, Done done = {});
    // Subscribes to an https:// or webcal:// iCalendar address. async.
    void addSubscription(const QString& address, Done done = {});
    void remove(const QString& id, Done done = {});
    // Fetches the subscriptions again now (they refresh by themselves as well).
    void refreshSubscriptions();

    static Row rowOf(const CalendarSourceInfo& source, Date now);
    // "たった今", "5 分前", "3 時間前", "2 日前".
    static QString ageText(Date then, Date now);

signals:
    void rowsChanged();
    void messageChanged();

private:
    // Runs the action on the worker, shows its outcome (done: `success`), then reads the list.
    void act(std::function<Expected<void, std::string>()> action, QString success, Done done);
    void setMessage(const QString& message, bool problem);

    std::shared_ptr<CalendarSources> m_sources;
    std::shared_ptr<MainThreadHop> m_hop;
    std::unique_ptr<SerialWorker> m_worker;
    int m_listener = -1;
    QTimer m_changeSettle;
    std::vector<Row> m_rows;
    QString m_message;
    bool m_messageIsProblem = false;
};

} // namespace tc
