#include "TranscriptionCorvane/AppcastUpdateScheduler.h"

#include "TranscriptionUI/PreferencesStore.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace tc {

namespace {
// Checks are kept out of the start-up path.
constexpr std::chrono::seconds kEarliestAfterLaunch{60};
} // namespace

AppcastUpdateScheduler::AppcastUpdateScheduler(QUrl feedURL, QString currentVersion, PreferencesStore* defaults, QObject* parent)
    : QObject(parent), m_checker(new AppcastUpdateChecker(std::move(feedURL), std::move(currentVersion), this)),
      m_defaults(defaults)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (automaticallyChecksForUpdates()) checkForUpdatesInBackground();
        scheduleNext();
    });
}

void AppcastUpdateScheduler::start()
{
    m_started = true;
    scheduleNext();
}

void AppcastUpdateScheduler::setUpdateCheckInterval(std::chrono::seconds interval)
{
    m_interval = std::max(interval, std::chrono::seconds{1});
    if (m_started) scheduleNext();
}

void AppcastUpdateScheduler::scheduleNext()
{
    m_timer.stop();
    if (!m_started || !automaticallyChecksForUpdates()) return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QVariant last = m_defaults->value(lastCheckTimeKey);
    const qint64 due = last.isValid() ? last.toLongLong() + m_interval.count() : now;
    const qint64 wait = std::max<qint64>(due - now, kEarliestAfterLaunch.count());
    // QTimer counts in int milliseconds; a day fits.
    m_timer.start(static_cast<int>(std::min<qint64>(wait, 24 * 3600) * 1000));
}

bool AppcastUpdateScheduler::automaticallyChecksForUpdates() const
{
    return m_defaults->boolValue(automaticChecksKey, true);
}

void AppcastUpdateScheduler::setAutomaticallyChecksForUpdates(bool enabled)
{
    m_defaults->setBool(automaticChecksKey, enabled);
    scheduleNext();
}

void AppcastUpdateScheduler::checkForUpdates()
{
    runCheck(true);
}

void AppcastUpdateScheduler::checkForUpdatesInBackground()
{
    runCheck(false);
}

void AppcastUpdateScheduler::runCheck(bool userInitiated)
{
    m_state = update_state::Checking{};
    Q_EMIT stateChanged();
    m_checker->check([this, userInitiated](const UpdateState& result, const std::optional<AppcastItem>& latest) {
        m_state = result;
        if (!std::holds_alternative<update_state::Failed>(result))
            m_defaults->setValue(lastCheckTimeKey, QDateTime::currentSecsSinceEpoch());
        Q_EMIT stateChanged();
        if (m_present) m_present(result, latest, userInitiated);
    });
}

void AppcastUpdateScheduler::presentInDialogs(const UpdateState& result, const std::optional<AppcastItem>& latest,
                                      bool userInitiated)
{
    QWidget* parent = QApplication::activeWindow();
    if (const auto* available = std::get_if<update_state::UpdateAvailable>(&result)) {
        QMessageBox box(parent);
        box.setIcon(QMessageBox::Information);
        box.setWindowTitle(QStringLiteral("アップデート"));
        box.setText(QStringLiteral("新しいバージョン %1 があります。").arg(QString::fromStdString(available->version)));
        if (available->notes) box.setDetailedText(QString::fromStdString(*available->notes));
        QPushButton* open = nullptr;
        const QUrl page = latest && latest->downloadURL.isValid() ? latest->downloadURL
                          : latest                                ? latest->releaseNotesURL
                                                                  : QUrl();
        if (page.isValid()) open = box.addButton(QStringLiteral("ダウンロードページを開く"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("あとで"), QMessageBox::RejectRole);
        box.exec();
        if (open && box.clickedButton() == open) QDesktopServices::openUrl(page);
        return;
    }
    if (!userInitiated) return;
    if (std::holds_alternative<update_state::UpToDate>(result)) {
        QMessageBox::information(
            parent, QStringLiteral("アップデート"),
            QStringLiteral("最新のバージョン（%1）を使っています。").arg(QApplication::applicationVersion()));
    } else if (const auto* failed = std::get_if<update_state::Failed>(&result)) {
        QMessageBox::warning(
            parent, QStringLiteral("アップデート"),
            QStringLiteral("更新を確認できませんでした: %1。ネットワーク接続を確かめて、もう一度お試しください。")
                .arg(QString::fromStdString(failed->reason)));
    }
}

} // namespace tc
