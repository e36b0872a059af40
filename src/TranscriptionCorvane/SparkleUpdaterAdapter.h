#pragma once

#include "TranscriptionApplication/UpdaterPort.h"

#include <QString>
#include <QUrl>
#include <memory>

namespace tc {

class AppcastUpdateScheduler;
class PreferencesStore;

// UpdaterPort over our appcast updater, which it starts with a one-day check interval. Main thread only;
// one per process.
class SparkleUpdaterAdapter final : public UpdaterPort {
public:
    explicit SparkleUpdaterAdapter(std::unique_ptr<AppcastUpdateScheduler> controller);
    ~SparkleUpdaterAdapter() override;

    // The adapter for the configured feed (the "SUFeedURL" setting, else the build's TC_UPDATE_FEED_URL);
    // null when no feed is configured.
    static std::unique_ptr<SparkleUpdaterAdapter> makeIfConfigured(PreferencesStore* defaults, const QString& version);
    // The configured feed; empty when there is none.
    static QUrl configuredFeedURL(PreferencesStore* defaults);

    // true: the interactive check; false: the background check.
    void checkForUpdates(bool userInitiated) override;
    // Read from and written to the updater, no caching here.
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;

    AppcastUpdateScheduler& controller() const { return *m_controller; }

private:
    std::unique_ptr<AppcastUpdateScheduler> m_controller;
};

} // namespace tc
