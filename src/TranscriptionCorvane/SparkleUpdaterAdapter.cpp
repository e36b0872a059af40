#include "TranscriptionCorvane/SparkleUpdaterAdapter.h"

#include "TranscriptionCorvane/AppcastUpdateScheduler.h"
#include "TranscriptionUI/PreferencesStore.h"

namespace tc {

SparkleUpdaterAdapter::SparkleUpdaterAdapter(std::unique_ptr<AppcastUpdateScheduler> controller)
    : m_controller(std::move(controller))
{
    m_controller->start();
    m_controller->setUpdateCheckInterval(std::chrono::seconds{86400});
}

SparkleUpdaterAdapter::~SparkleUpdaterAdapter() = default;

QUrl SparkleUpdaterAdapter::configuredFeedURL(PreferencesStore* defaults)
{
    const QString setting = defaults->value(AppcastUpdateScheduler::feedURLKey).toString().trimmed();
    const QString feed = setting.isEmpty() ? QStringLiteral(TC_UPDATE_FEED_URL).trimmed() : setting;
    if (feed.isEmpty()) return {};
    const QUrl url = QUrl::fromUserInput(feed);
    return url.isValid() ? url : QUrl();
}

std::unique_ptr<SparkleUpdaterAdapter> SparkleUpdaterAdapter::makeIfConfigured(PreferencesStore* defaults,
                                                                               const QString& version)
{
    const QUrl feed = configuredFeedURL(defaults);
    if (feed.isEmpty()) return nullptr;
    return std::make_unique<SparkleUpdaterAdapter>(std::make_unique<AppcastUpdateScheduler>(feed, version, defaults));
}

void SparkleUpdaterAdapter::checkForUpdates(bool userInitiated)
{
    if (userInitiated)
        m_controller->checkForUpdates();
    else
        m_controller->checkForUpdatesInBackground();
}

bool SparkleUpdaterAdapter::automaticallyChecksForUpdates() const
{
    return m_controller->automaticallyChecksForUpdates();
}

void SparkleUpdaterAdapter::setAutomaticallyChecksForUpdates(bool enabled)
{
    m_controller->setAutomaticallyChecksForUpdates(enabled);
}

} // namespace tc
