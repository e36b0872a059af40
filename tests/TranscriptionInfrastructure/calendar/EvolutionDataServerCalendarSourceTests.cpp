#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"

#include "support/EvolutionDataServerSession.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace tc {
namespace {

using namespace std::chrono_literals;

// The local (Tokyo) wall time as a Date.
Date tokyo(int year, int month, int day, int hour = 0, int minute = 0)
{
    std::tm fields{0, minute, hour, day, month - 1, year - 1900};
    fields.tm_isdst = -1;
    return dateFromUnixSeconds(static_cast<double>(std::mktime(&fields)));
}

// "title HH:MM-HH:MM" in Tokyo time, all-day events marked.
std::vector<std::string> described(const std::vector<StoredCalendarEvent>& events)
{
    std::vector<std::string> lines;
    for (const auto& e : events) {
        char from[8], to[8];
        const auto start = static_cast<std::time_t>(unixSecondsFromDate(e.start));
        const auto end = static_cast<std::time_t>(unixSecondsFromDate(e.end));
        std::tm local{};
        std::strftime(from, sizeof from, "%H:%M", localtime_r(&start, &local));
        std::strftime(to, sizeof to, "%H:%M", localtime_r(&end, &local));
        lines.push_back(e.summary.value_or("?") + " " + from + "-" + to + (e.isAllDay ? " 終日" : ""));
    }
    return lines;
}

// One private bus with the real calendar service per process (GLib keeps one session connection).
class DesktopCalendar : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        s_session = new test::EvolutionDataServerSession();
    }
    static void TearDownTestSuite()
    {
        delete s_session;
        s_session = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(s_session->isRunning()) << s_session->startError(); }

    static std::string makeWorkCalendar()
    {
        const auto uid = s_session->createWorkCalendar();
        EXPECT_FALSE(uid.empty()) << s_session->lastError();
        return uid;
    }

    static std::vector<StoredCalendarEvent> day(EvolutionDataServerCalendarSource& source, const std::string& uid,
                                                int dayOfMonth)
    {
        return source.eventsBetween(tokyo(2026, 1, dayOfMonth), tokyo(2026, 1, dayOfMonth + 1),
                                    [&](const std::string& id) { return id == "eds:" + uid; });
    }

    static inline test::EvolutionDataServerSession* s_session = nullptr;
};

TEST_F(DesktopCalendar, ADaysEventsComeInTheirTimeZonesWithTheSeriesExceptionsApplied)
{
    const auto uid = makeWorkCalendar();
    EvolutionDataServerCalendarSource source;
    ASSERT_TRUE(source.waitUntilSettled(30s));
    ASSERT_TRUE(source.available());

    EXPECT_EQ(described(day(source, uid, 15)),
              (std::vector<std::string>{"創立記念日 00:00-00:00 終日", "面談 09:00-09:30", "NY との電話 10:00-11:00",
                                        "定例（移動） 14:00-15:00"}))
        << "the moved instance stands in for the 10:00 one, the all-day event spans the local day";
    EXPECT_TRUE(day(source, uid, 8).empty()) << "the excluded week";
    EXPECT_EQ(described(day(source, uid, 22)), (std::vector<std::string>{"定例 10:00-11:00"}));
    const auto allDay = day(source, uid, 15).front();
    EXPECT_DOUBLE_EQ(allDay.end - allDay.start, 86400.0);

    const auto calendars = source.calendars();
    const auto work = std::find_if(calendars.begin(), calendars.end(),
                                   [&](const CalendarSourceInfo& c) { return c.id == "eds:" + uid; });
    ASSERT_NE(work, calendars.end());
    EXPECT_EQ(work->name, "仕事");
    EXPECT_EQ(work->kind, CalendarSourceKind::desktopAccount);
    EXPECT_EQ(work->eventCount, std::optional<std::size_t>(4)) << "a series with its moved instance counts once";
    EXPECT_TRUE(work->lastUpdate.has_value());
    EXPECT_TRUE(
        source.eventsBetween(tokyo(2026, 1, 15), tokyo(2026, 1, 16), [](const std::string&) { return false; }).empty())
        << "a calendar switched off contributes nothing";
}

TEST_F(DesktopCalendar, AnEventChangedWhileRunningIsReportedAndReadAgain)
{
    const auto uid = makeWorkCalendar();
    EvolutionDataServerCalendarSource source;
    ASSERT_TRUE(source.waitUntilSettled(30s));
    std::mutex mutex;
    std::condition_variable changed;
    int changes = 0;
    source.setChangeHandler([&] {
        std::lock_guard lock(mutex);
        ++changes;
        changed.notify_all();
    });
    ASSERT_EQ(day(source, uid, 15).size(), 4u);
    // Changes come in batches: a removed instance may come as its series removed, then the series again.
    const auto settlesOn = [&](const std::vector<std::string>& the15th, const std::vector<std::string>& the22nd) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] {
            lock.unlock();
            const bool now = described(day(source, uid, 15)) == the15th && described(day(source, uid, 22)) == the22nd;
            lock.lock();
            return now && changes > 0;
        });
    };
    const std::vector<std::string> weekly{"定例 10:00-11:00"};

    // Moved to the afternoon and renamed, as another program (Evolution, a synced account) would.
    ASSERT_TRUE(s_session->putEvent(
        uid, test::EvolutionDataServerSession::vevent(
                 "UID:one-off\r\nSUMMARY:面談（変更）\r\nDTSTART:20260115T070000Z\r\nDTEND:20260115T080000Z\r\n")));
    ASSERT_TRUE(s_session->removeEvent(uid, "new-york"));
    EXPECT_TRUE(
        settlesOn({"創立記念日 00:00-00:00 終日", "定例（移動） 14:00-15:00", "面談（変更） 16:00-17:00"}, weekly))
        << "still: " << ::testing::PrintToString(described(day(source, uid, 15)));

    // One instance of the series deleted, as a calendar app does: the rest of the series stays.
    ASSERT_TRUE(s_session->removeEvent(uid, "weekly", "20260115T100000")) << s_session->lastError();
    EXPECT_TRUE(settlesOn({"創立記念日 00:00-00:00 終日", "面談（変更） 16:00-17:00"}, weekly))
        << "still: " << ::testing::PrintToString(described(day(source, uid, 15)))
        << ::testing::PrintToString(described(day(source, uid, 22)));
}

TEST_F(DesktopCalendar, ACalendarSwitchedOffInTheDesktopSettingsLeavesTheList)
{
    const auto uid = makeWorkCalendar();
    EvolutionDataServerCalendarSource source;
    ASSERT_TRUE(source.waitUntilSettled(30s));
    const auto listed = [&] {
        const auto calendars = source.calendars();
        return std::any_of(calendars.begin(), calendars.end(),
                           [&](const CalendarSourceInfo& c) { return c.id == "eds:" + uid; });
    };
    ASSERT_TRUE(listed());
    std::mutex mutex;
    std::condition_variable changed;
    source.setChangeHandler([&] { changed.notify_all(); });
    ASSERT_TRUE(s_session->setCalendarEnabled(uid, false)) << s_session->lastError();
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, 30s, [&] { return !listed(); }));
    EXPECT_TRUE(day(source, uid, 15).empty());
}

TEST_F(DesktopCalendar, ARegistryAnsweringAfterTheStartUpWaitStillBringsItsCalendars)
{
    const auto uid = makeWorkCalendar();
    std::mutex mutex;
    std::condition_variable changed;
    EvolutionDataServerCalendarSource source(0ms);
    source.setChangeHandler([&] {
        std::lock_guard lock(mutex);
        changed.notify_all();
    });
    ASSERT_TRUE(source.waitUntilSettled(30s)) << "the start-up wait ends at once";
    std::unique_lock lock(mutex);
    const bool seen = changed.wait_for(lock, 30s, [&] {
        lock.unlock();
        const bool now = day(source, uid, 15).size() == 4;
        lock.lock();
        return now;
    });
    EXPECT_TRUE(seen) << "a slow service at login must not leave the sidebar empty until a restart";
    EXPECT_TRUE(source.available());
}

// What GLib or the library would print lands in a file while the block runs.
class StderrCapture {
public:
    StderrCapture() : m_file(m_dir.path() / "stderr.txt")
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        const int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    std::string text()
    {
        restore();
        return test::readText(m_file);
    }

private:
    void restore()
    {
        if (m_saved < 0) return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    test::TemporaryDirectory m_dir;
    std::filesystem::path m_file;
    int m_saved = -1;
};

TEST(DesktopCalendarAbsent, WithoutASessionBusTheSourceIsEmptyAtOnceAndSilent)
{
    test::TemporaryDirectory runtime;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string savedAddress = address ? address : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    StderrCapture capture;
    {
        EvolutionDataServerCalendarSource source;
        EXPECT_TRUE(source.waitUntilSettled(1s)) << "no bus: nothing to wait for";
        EXPECT_FALSE(source.available());
        EXPECT_TRUE(source.calendars().empty());
        EXPECT_TRUE(source.eventsBetween(0, 86400, {}).empty());
    }
    EXPECT_EQ(capture.text(), "");
    if (!savedAddress.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress.c_str(), 1);
}

} // namespace
} // namespace tc
