#pragma once

#include "TranscriptionApplication/UpdateState.h"
#include "TranscriptionCorvane/AppcastUpdateChecker.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

class QWidget;

namespace tc {

class PreferencesStore;

// Our updater: checks an appcast on a schedule and on request, remembers its settings in the user defaults
// and shows the outcome in Qt dialogs. Main thread only.
class AppcastUpdateScheduler : public QObject {
    Q_OBJECT
public:
    static inline const QString automaticChecksKey = QString(settingKeys::updateAutomaticChecks);
    static inline const QString lastCheckTimeKey = QString(settingKeys::updateLastCheckTime);
    static inline const QString feedURLKey = QString(settingKeys::updateFeedURL);

    // Shows a result; userInitiated false means a background check, which stays quiet unless an update exists.
    using Presenter =
        std::function<void(const UpdateState& result, const std::optional<AppcastItem>& latest, bool userInitiated)>;

    AppcastUpdateScheduler(QUrl feedURL, QString currentVersion, PreferencesStore* defaults, QObject* parent = nullptr);

    // Starts the schedule: a background check once the interval has passed since the last one.
    void start();
    void setUpdateCheckInterval(std::chrono::seconds interval);
    std::chrono::seconds updateCheckInterval() const { return m_interval; }
    // Interactive check; its result is always shown.
    void checkForUpdates();
    // Silent check; only an available update is shown.
    void checkForUpdatesInBackground();
    // Stored in the user defaults; true until the user turns it off.
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);

    const UpdateState& state() const { return m_state; }
    void setPresenter(Presenter presenter) { m_present = std::move(presenter); }
    AppcastUpdateChecker* checker() const { return m_checker; }
    // Qt message boxes over the active window.
    static void presentInDialogs(const UpdateState& result, const std::optional<AppcastItem>& latest,
                                 bool userInitiated);

signals:
    void stateChanged();

private:
    void runCheck(bool userInitiated);
    void scheduleNext();

    AppcastUpdateChecker* m_checker;
    PreferencesStore* m_defaults;
    std::chrono::seconds m_interval{86400};
    QTimer m_timer;
    UpdateState m_state = update_state::Idle{};
    Presenter m_present = &AppcastUpdateScheduler::presentInDialogs;
    bool m_started = false;
};

} // namespace tc
