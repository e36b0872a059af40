#include "TranscriptionCorvane/AppcastUpdateChecker.h"
#include "TranscriptionCorvane/AppcastUpdateScheduler.h"
#include "TranscriptionCorvane/SparkleUpdaterAdapter.h"
#include "TranscriptionUI/PreferencesStore.h"

#include "support/LocalHttpServer.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace tc {
namespace {

// The newest item sits in the middle and names its versions on the enclosure only.
const std::filesystem::path kFeedFile = test::testDataDir() / "appcast" / "appcast.xml";
const QByteArray kFeed = QByteArray::fromStdString(test::readText(kFeedFile));

// The feed's address on the local server, which answers every request with this status and body.
QUrl serving(test::LocalHttpServer& server, int status, const QByteArray& body)
{
    server.setResponder([status, body = body.toStdString()](const test::LocalHttpServer::Request&) {
        return test::LocalHttpServer::Response{status, {}, body};
    });
    return QUrl(QString::fromStdString(server.url("/appcast.xml")));
}

UpdateState runCheck(const QUrl& feed, const char* currentVersion, std::optional<AppcastItem>* latest = nullptr)
{
    AppcastUpdateChecker checker(feed, QString::fromUtf8(currentVersion));
    std::optional<UpdateState> outcome;
    checker.check([&](const UpdateState& state, const std::optional<AppcastItem>& item) {
        outcome = state;
        if (latest) *latest = item;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 10000));
    return outcome.value_or(update_state::UpToDate{});
}

template <typename State>
bool is(const UpdateState& state)
{
    return std::holds_alternative<State>(state);
}

TEST(AppcastVersions, CompareNumbersNumericallyAndPreReleasesBelowReleases)
{
    // Each pair in ascending order, one per way two versions differ; the last is too long for an int.
    // clang-format off
    for (const auto& [lower, higher] : std::vector<std::pair<QString, QString>>{
             {"0.9.9", "0.10.0"}, {"1.0", "1.0.1"}, {"1.0b1", "1.0"}, {"1.0a9", "1.0b1"}, {"1.0b1", "1.0.1"},
             {"20261206123456788", "20261206123456789"}}) {
        // clang-format on
        EXPECT_LT(AppcastUpdateChecker::compareVersions(lower, higher), 0) << lower.toStdString();
        EXPECT_GT(AppcastUpdateChecker::compareVersions(higher, lower), 0) << higher.toStdString();
    }
    EXPECT_EQ(AppcastUpdateChecker::compareVersions("1.0", "1.0"), 0);
    EXPECT_EQ(AppcastUpdateChecker::compareVersions("1.01", "1.1"), 0);
}

TEST(AppcastFeed, BrokenFeedsAreErrorsNotUpdates)
{
    QString error;
    for (const QByteArray& broken : {QByteArray("<rss><channel><item>"), QByteArray("<html><body>404</body></html>"),
                                     QByteArray("<rss><channel></channel></rss>")}) {
        error.clear();
        EXPECT_FALSE(AppcastUpdateChecker::parseLatest(broken, &error)) << broken.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(AppcastCheck, FetchesTheFeedOverHttpOrFromAFileAndFailsWithAJapaneseReason)
{
    test::qtApplication();
    test::LocalHttpServer server;
    const QUrl feed = serving(server, 200, kFeed);
    std::optional<AppcastItem> latest;
    const auto found = runCheck(feed, "0.1.0", &latest);
    ASSERT_TRUE(is<update_state::UpdateAvailable>(found));
    EXPECT_EQ(std::get<update_state::UpdateAvailable>(found).version, "0.10.0 beta 1");
    EXPECT_EQ(latest.value().version, QStringLiteral("0.10.0b1"));
    EXPECT_EQ(latest->downloadURL, QUrl(QStringLiteral("https://example.invalid/tc-0.10.0b1.tar.gz")));
    EXPECT_TRUE(is<update_state::UpToDate>(runCheck(feed, "0.10.0")));
    EXPECT_EQ(server.requests().size(), 2u);

    const auto local = QUrl::fromLocalFile(QString::fromStdString(kFeedFile));
    EXPECT_TRUE(is<update_state::UpdateAvailable>(runCheck(local, "0.2.0")));

    // Each failure is told in Japanese of our own, without Qt's English ("Not Found", "Connection refused").
    test::LocalHttpServer missing;
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closed.serverPort()));
    closed.close();
    for (const QUrl& unusable : {serving(missing, 404, "not here"), refused,
                                 QUrl::fromLocalFile(QString::fromStdString(kFeedFile.parent_path() / "none.xml")),
                                 QUrl(QStringLiteral("gopher://127.0.0.1/appcast.xml"))}) {
        SCOPED_TRACE(unusable.toString().toStdString());
        const auto failed = runCheck(unusable, "0.1.0");
        ASSERT_TRUE(is<update_state::Failed>(failed));
        const QString reason = QString::fromStdString(std::get<update_state::Failed>(failed).reason);
        EXPECT_TRUE(reason.startsWith(QStringLiteral("更新情報"))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}")))) << reason.toStdString();
    }
}

TEST(SparkleUpdaterAdapter, ChecksThroughTheUpdaterKeepsNoCopyOfItsSettingAndNeedsAFeed)
{
    test::qtApplication();
    test::TemporaryDirectory dir;
    PreferencesStore defaults(QString::fromStdString((dir.path() / "settings.ini").string()));
    test::LocalHttpServer server;
    auto updater =
        std::make_unique<AppcastUpdateScheduler>(serving(server, 200, kFeed), QStringLiteral("0.1.0"), &defaults);
    AppcastUpdateScheduler* raw = updater.get();
    std::vector<bool> shown;
    raw->setPresenter([&](const UpdateState&, const std::optional<AppcastItem>&, bool userInitiated) {
        shown.push_back(userInitiated);
    });
    SparkleUpdaterAdapter adapter(std::move(updater));

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
    EXPECT_TRUE(is<update_state::UpdateAvailable>(raw->state()));
    EXPECT_TRUE(defaults.contains(AppcastUpdateScheduler::lastCheckTimeKey));

    // Without a feed built in or configured there is no updater.
    EXPECT_TRUE(!QStringLiteral(TC_UPDATE_FEED_URL).isEmpty() ||
                SparkleUpdaterAdapter::makeIfConfigured(&defaults, QStringLiteral("0.1.0")) == nullptr);
    defaults.setValue(AppcastUpdateScheduler::feedURLKey, QStringLiteral("http://127.0.0.1:9/appcast.xml"));
    EXPECT_NE(SparkleUpdaterAdapter::makeIfConfigured(&defaults, QStringLiteral("0.1.0")), nullptr);
}

} // namespace
} // namespace tc
