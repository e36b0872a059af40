#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"

#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptionFetcher.h"

#include "support/LocalHttpServer.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>

namespace tc {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string feed(const std::string& title)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nX-WR-CALNAME:チーム\r\n"
           "BEGIN:VEVENT\r\nUID:meeting\r\nSUMMARY:" +
           title + "\r\nDTSTART:20260115T010000Z\r\nDTEND:20260115T020000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

mode_t modeOf(const fs::path& file)
{
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_mode & 0777;
}

TEST(CalendarSubscriptionAddress, OnlyHttpsAndWebcalAreSubscribedAndMessagesShowTheHostAlone)
{
    const CalendarSubscriptionFetcher fetcher;
    EXPECT_EQ(fetcher.normalised("webcal://calendar.example.com/ical/secret/basic.ics"),
              "https://calendar.example.com/ical/secret/basic.ics");
    EXPECT_EQ(fetcher.normalised(" https://example.com/a.ics "), "https://example.com/a.ics");
    EXPECT_EQ(fetcher.normalised("WEBCALS://example.com/a.ics"), "https://example.com/a.ics");
    EXPECT_FALSE(fetcher.normalised("http://example.com/a.ics")) << "the address would travel in clear";
    EXPECT_FALSE(fetcher.normalised("http://127.0.0.1:8080/a.ics")) << "loopback only for tests";
    EXPECT_FALSE(fetcher.normalised("file:///etc/passwd"));
    EXPECT_FALSE(fetcher.normalised("https:///a.ics"));
    EXPECT_TRUE(CalendarSubscriptionFetcher(true).normalised("http://127.0.0.1:8080/a.ics"));
    EXPECT_EQ(CalendarSubscriptionFetcher::masked("https://user:pw@calendar.example.com/ical/secret/basic.ics?k=1"),
              "https://calendar.example.com/…");
}

class Subscription : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()); }

    test::TemporaryDirectory dir;
    test::LocalHttpServer server;
    std::shared_ptr<CalendarSourceSettings> settings =
        std::make_shared<CalendarSourceSettings>(dir.path() / "config" / "calendar-sources.json");
    // Refreshed only when the test asks.
    CalendarSubscriptions subscriptions{settings, dir.path() / "subscriptions", CalendarSubscriptionFetcher(true), 24h};
    const std::string secretPath = "/calendar/ical/private-7f3a9c/basic.ics";
};

TEST_F(Subscription, AFeedIsKeptThroughNotModifiedChangesAndEveryKindOfFailedRefresh)
{
    std::atomic<int> phase = 0;
    server.setResponder([&](const test::LocalHttpServer::Request& request) {
        using R = test::LocalHttpServer::Response;
        const std::vector<std::pair<std::string, std::string>> v1{{"ETag", "\"v1\""},
                                                                  {"Last-Modified", "Wed, 14 Jan 2026 00:00:00 GMT"}};
        switch (phase.load()) {
        case 0: return R{200, v1, feed("定例")};
        case 1:
            if (request.headers.count("if-none-match") && request.headers.at("if-none-match") == "\"v1\"")
                return R{304, {{"ETag", "\"v1\""}}, ""};
            return R{200, v1, feed("定例")};
        case 2: return R{200, {{"ETag", "\"v2\""}}, feed("定例（場所変更）")};
        case 3: return R{500, {}, "oops"};
        case 4: return R{200, {}, "<html>sign in</html>"};
        default: return R{200, {}, "", CalendarSubscriptionFetcher::kMaxBytes * 2};
        }
    });
    // Each wait is for the round that fetches the feed after the change of phase, not merely for the next one
    // to end (the round at start may still be under way, having read an empty list).
    const auto refresh = [&] { ASSERT_TRUE(subscriptions.waitForRounds(subscriptions.refreshNow(), 60s)); };

    const auto added = subscriptions.add(server.url(secretPath), "");
    ASSERT_TRUE(added.problem.empty()) << added.problem;
    ASSERT_TRUE(subscriptions.waitForRounds(added.round, 60s));
    const fs::path copy = subscriptions.copyOf(added.id);
    EXPECT_EQ(test::readText(copy), feed("定例"));
    EXPECT_EQ(modeOf(copy), 0600u);
    auto state = *settings->subscription(added.id);
    EXPECT_EQ(state.name, "チーム") << "the feed's own name";
    EXPECT_EQ(state.etag, "\"v1\"");
    ASSERT_TRUE(state.fetchedAt);
    EXPECT_TRUE(state.problem.empty());

    phase = 1;
    refresh();
    const auto conditional = server.requests().back();
    EXPECT_EQ(conditional.headers.at("if-none-match"), "\"v1\"");
    EXPECT_EQ(conditional.headers.at("if-modified-since"), "Wed, 14 Jan 2026 00:00:00 GMT");
    EXPECT_EQ(test::readText(copy), feed("定例")) << "304: the copy stands";
    EXPECT_TRUE(settings->subscription(added.id)->problem.empty());

    phase = 2;
    refresh();
    EXPECT_EQ(test::readText(copy), feed("定例（場所変更）"));
    EXPECT_EQ(settings->subscription(added.id)->etag, "\"v2\"");
    const auto lastGood = settings->subscription(added.id)->fetchedAt;

    // The same failure twice in a row (offline for a while) changes nothing the second time, and still loses nothing.
    for (int failing : {3, 3, 4, 5}) {
        phase = failing;
        refresh();
        const auto failed = *settings->subscription(added.id);
        EXPECT_EQ(test::readText(copy), feed("定例（場所変更）")) << "phase " << failing << ": nothing lost";
        EXPECT_FALSE(failed.problem.empty()) << "phase " << failing;
        EXPECT_EQ(failed.fetchedAt, lastGood) << "the age shown is the last good copy's";
        EXPECT_EQ(failed.problem.find("private-7f3a9c"), std::string::npos) << failed.problem;
        if (failing == 3) {
            EXPECT_NE(failed.problem.find("HTTP 500"), std::string::npos) << failed.problem;
        }
        if (failing == 5) {
            EXPECT_NE(failed.problem.find("大きすぎます"), std::string::npos) << failed.problem;
        }
    }

    // The address is the secret: only its owner can read the file that holds it.
    EXPECT_EQ(modeOf(settings->file()), 0600u);
    EXPECT_EQ(CalendarSourceSettings(settings->file()).subscription(added.id)->address, server.url(secretPath));
}

TEST_F(Subscription, AnAddressAlreadyHeldOrNotHttpsIsRefusedWithAReason)
{
    server.setResponder([](const auto&) { return test::LocalHttpServer::Response{200, {}, feed("x")}; });
    EXPECT_TRUE(subscriptions.add(server.url("/a.ics"), "A").problem.empty());
    EXPECT_EQ(subscriptions.add(server.url("/a.ics"), "A").problem, "このカレンダーはもう購読しています。");
    const auto refused = subscriptions.add("ftp://example.com/a.ics", "");
    EXPECT_TRUE(refused.id.empty());
    EXPECT_NE(refused.problem.find("https://"), std::string::npos);
    EXPECT_EQ(settings->subscriptions().size(), 1u);
}

} // namespace
} // namespace tc
