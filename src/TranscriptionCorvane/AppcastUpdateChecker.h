#pragma once

#include "TranscriptionApplication/UpdateState.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace tc {

// One release in an appcast feed.
struct AppcastItem {
    // The machine-comparable version (sparkle:version), falling back to the short version.
    QString version;
    // The version shown to people (sparkle:shortVersionString), or version.
    QString displayVersion;
    QString title;
    QUrl downloadURL;
    QUrl releaseNotesURL;
    // The item's description, as given.
    QString notes;
};

// Reads an RSS appcast (the common Sparkle feed format) over http(s) or from a file and tells whether it
// offers a newer version than the running one. Main thread only; one check at a time.
class AppcastUpdateChecker : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const UpdateState& result, const std::optional<AppcastItem>& latest)>;

    AppcastUpdateChecker(QUrl feedURL, QString currentVersion, QObject* parent = nullptr);
    ~AppcastUpdateChecker() override;

    const QUrl& feedURL() const { return m_feedURL; }
    // Fetches the feed; completion gets UpdateAvailable, UpToDate or Failed (with a Japanese reason) on the
    // main thread. A check already running is cancelled.
    void check(Completion completion);
    bool isChecking() const { return m_reply != nullptr; }

    // The newest item of the feed; an error text when the feed is not a readable appcast.
    static std::optional<AppcastItem> parseLatest(const QByteArray& feed, QString* error = nullptr);
    // Negative, zero or positive as a is older than, equal to or newer than b. Numbers compare numerically,
    // letters lexically, and a release is newer than a pre-release with the same numbers (1.0 > 1.0b1).
    static int compareVersions(const QString& a, const QString& b);
    // The outcome for a parsed feed and the running version.
    static UpdateState evaluate(const std::optional<AppcastItem>& latest, const QString& currentVersion);

private:
    void finish(QNetworkReply* reply);

    QUrl m_feedURL;
    QString m_currentVersion;
    QNetworkAccessManager* m_network;
    QNetworkReply* m_reply = nullptr;
    Completion m_completion;
};

} // namespace tc
