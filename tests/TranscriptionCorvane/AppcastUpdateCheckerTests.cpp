#include "TranscriptionCorvane/AppcastUpdateChecker.h"
#include "TranscriptionCorvane/AppcastUpdateScheduler.h"
#include "TranscriptionCorvane/SparkleUpdaterAdapter.h"
#include "TranscriptionUI/PreferencesStore.h"

#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

namespace tc {
namespace {

const QByteArray kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>transcription-corvane</title>
    <item>
      <title>0.2.0</title>
      <sparkle:version>0.2.0</sparkle:version>
      <description>字幕の改善</description>
      <enclosure url="https://example.invalid/tc-0.2.0.tar.gz" length="10" type="application/octet-stream"/>
    </item>
    <item>
      <title>0.10.0 beta</title>
      <enclosure url="https://example.invalid/tc-0.10.0b1.tar.gz" sparkle:version="0.10.0b1"
                 sparkle:shortVersionString="0.10.0 beta 1" length="10" type="application/octet-stream"/>
    </item>
    <item>
      <title>0.1.0</title>
      <sparkle:version>0.1.0</sparkle:version>
    </item>
  </channel>
</rss>)";

// Answers every request on 127.0.0.1 with one fixed HTTP response.
class LocalHttpServer {
public:
    LocalHttpServer(int status, QByteArray body) : m_status(status), m_body(std::move(body))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n")) return;
                    ++requests;
                    socket->write("HTTP/1.1 " + QByteArray::number(m_status) +
                                  " X\r\nContent-Type: application/xml\r\n" + "Content-Length: " +
                                  QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort())); }
    int requests = 0;

private:
    QTcpServer m_server;
    int m_status;
    QByteArray m_body;
};

struct Outcome {
    std::optional<UpdateState> state;
    std::optional<AppcastItem> latest;
};

Outcome runCheck(AppcastUpdateChecker& checker)
{
    Outcome outcome;
    checker.check([&](const UpdateState& state, const std::optional<AppcastItem>& latest) {
        outcome.state = state;
        outcome.latest = latest;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.state.has_value(); }, 10000));
    return outcome;
}

TEST(AppcastVersions, CompareNumbersNumericallyAndPreReleasesBelowReleases)
{
    using C = AppcastUpdateChecker;
    EXPECT_GT(C::compareVersions("0.10.0", "0.9.9"), 0);
    EXPECT_LT(C::compareVersions("1.2", "1.10"), 0);
    EXPECT_EQ(C::compareVersions("1.0", "1.0"), 0);
    EXPECT_EQ(C::compareVersions("1.01", "1.1"), 0);
    EXPECT_GT(C::compareVersions("1.0.1", "1.0"), 0);
    EXPECT_LT(C::compareVersions("1.0b1", "1.0"), 0);
    EXPECT_LT(C::compareVersions("1.0b1", "1.0b2"), 0);
    EXPECT_LT(C::compareVersions("1.0a9", "1.0b1"), 0);
    EXPECT_LT(C::compareVersions("1.0b1", "1.0.1"), 0);
    EXPECT_GT(C::compareVersions("2", "1.99.99"), 0);
    EXPECT_GT(C::compareVersions("20261206123456789", "20261206123456788"), 0) << "no overflow on build numbers";
}

TEST(AppcastFeed, TheNewestItemWinsWhateverItsPlaceAndBrokenFeedsAreErrorsNotUpdates)
{
    QString error;
    const auto latest = AppcastUpdateChecker::parseLatest(kFeed, &error);
    ASSERT_TRUE(latest) << error.toStdString();
    EXPECT_EQ(latest->version, QStringLiteral("0.10.0b1"));
    EXPECT_EQ(latest->downloadURL, QUrl(QStringLiteral("https://example.invalid/tc-0.10.0b1.tar.gz")));
    const UpdateState newer = AppcastUpdateChecker::evaluate(latest, QStringLiteral("0.2.0"));
    ASSERT_TRUE(std::holds_alternative<update_state::UpdateAvailable>(newer));
    EXPECT_EQ(std::get<update_state::UpdateAvailable>(newer).version, "0.10.0 beta 1");

    for (const QByteArray& broken : {QByteArray("<rss><channel><item>"), QByteArray("<html><body>404</body></html>"),
                                     QByteArray("<rss><channel></channel></rss>")}) {
        error.clear();
        EXPECT_FALSE(AppcastUpdateChecker::parseLatest(broken, &error)) << broken.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(AppcastCheck, FetchesTheFeedOverHttpFromALocalServer)
{
    test::qtApplication();
    LocalHttpServer server(200, kFeed);
    AppcastUpdateChecker older(server.url(), QStringLiteral("0.1.0"));
    const Outcome found = runCheck(older);
    ASSERT_TRUE(found.state);
    ASSERT_TRUE(std::holds_alternative<update_state::UpdateAvailable>(*found.state));
    ASSERT_TRUE(found.latest);
    EXPECT_EQ(found.latest->version, QStringLiteral("0.10.0b1"));

    AppcastUpdateChecker current(server.url(), QStringLiteral("0.10.0"));
    const Outcome none = runCheck(current);
    ASSERT_TRUE(none.state);
    EXPECT_TRUE(std::holds_alternative<update_state::UpToDate>(*none.state));
    EXPECT_EQ(server.requests, 2);
}

TEST(AppcastCheck, ServerErrorsAndUnreachableFeedsFailWithAJapaneseReason)
{
    test::qtApplication();
    LocalHttpServer server(404, "not here");
    AppcastUpdateChecker missing(server.url(), QStringLiteral("0.1.0"));
    const Outcome failed = runCheck(missing);
    ASSERT_TRUE(failed.state);
    ASSERT_TRUE(std::holds_alternative<update_state::Failed>(*failed.state));
    EXPECT_NE(std::get<update_state::Failed>(*failed.state).reason.find("更新情報"), std::string::npos);

    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    AppcastUpdateChecker unreachable(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(port)),
                                     QStringLiteral("0.1.0"));
    const Outcome refused = runCheck(unreachable);
    ASSERT_TRUE(refused.state);
    EXPECT_TRUE(std::holds_alternative<update_state::Failed>(*refused.state));
}

TEST(AppcastCheck, ReadsAFeedFromAFile)
{
    test::qtApplication();
    test::TemporaryDirectory dir;
    const QString path = QString::fromStdString((dir.path() / "appcast.xml").string());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kFeed);
    file.close();
    AppcastUpdateChecker checker(QUrl::fromLocalFile(path), QStringLiteral("0.2.0"));
    const Outcome outcome = runCheck(checker);
    ASSERT_TRUE(outcome.state);
    EXPECT_TRUE(std::holds_alternative<update_state::UpdateAvailable>(*outcome.state));
}

TEST(SparkleUpdaterAdapter, ChecksThroughTheUpdaterAndKeepsNoCopyOfItsSetting)
{
    test::qtApplication();
    test::TemporaryDirectory dir;
    PreferencesStore defaults(QString::fromStdString((dir.path() / "settings.ini").string()));
    LocalHttpServer server(200, kFeed);
    auto updater = std::make_unique<AppcastUpdateScheduler>(server.url(), QStringLiteral("0.1.0"), &defaults);
    AppcastUpdateScheduler* raw = updater.get();
    std::vector<bool> shown;
    raw->setPresenter([&](const UpdateState&, const std::optional<AppcastItem>&, bool userInitiated) {
        shown.push_back(userInitiated);
    });
    SparkleUpdaterAdapter adapter(std::move(updater));
    EXPECT_EQ(raw->updateCheckInterval(), std::chrono::seconds{86400});

    EXPECT_TRUE(adapter.automaticallyChecksForUpdates());
    adapter.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(adapter.automaticallyChecksForUpdates());
    EXPECT_FALSE(defaults.boolValue(AppcastUpdateScheduler::automaticChecksKey, true))
        << "stored by the updater itself";
    raw->setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(adapter.automaticallyChecksForUpdates());

    adapter.checkForUpdates(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 1; }, 10000));
    adapter.checkForUpdates(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 2; }, 10000));
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    EXPECT_TRUE(std::holds_alternative<update_state::UpdateAvailable>(raw->state()));
    EXPECT_TRUE(defaults.contains(AppcastUpdateScheduler::lastCheckTimeKey));
}

TEST(SparkleUpdaterAdapter, NoFeedMeansNoUpdater)
{
    test::qtApplication();
    test::TemporaryDirectory dir;
    PreferencesStore defaults(QString::fromStdString((dir.path() / "settings.ini").string()));
    if (QStringLiteral(TC_UPDATE_FEED_URL).isEmpty()) {
        EXPECT_EQ(SparkleUpdaterAdapter::makeIfConfigured(&defaults, QStringLiteral("0.1.0")), nullptr);
    }
    defaults.setValue(AppcastUpdateScheduler::feedURLKey, QStringLiteral("http://127.0.0.1:9/appcast.xml"));
    EXPECT_NE(SparkleUpdaterAdapter::makeIfConfigured(&defaults, QStringLiteral("0.1.0")), nullptr);
}

} // namespace
} // namespace tc
