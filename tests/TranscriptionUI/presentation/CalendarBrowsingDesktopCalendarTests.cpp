#include "TranscriptionUI/presentation/CalendarBrowsing.h"

#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"
#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"
#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionUI/presentation/CalendarDayRows.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"

#include "support/EvolutionDataServerSession.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QTest>
#include <gtest/gtest.h>

#include <ctime>

namespace tc {
namespace {

Date tokyoNoon(int year, int month, int day)
{
    std::tm fields{0, 0, 12, day, month - 1, year - 1900};
    fields.tm_isdst = -1;
    return dateFromUnixSeconds(static_cast<double>(std::mktime(&fields)));
}

// "HH:MM title" for event rows, "+N" for the count of a series' hidden rest.
std::vector<std::string> shown(const std::vector<CalendarDayRow>& rows)
{
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        if (row.kind == CalendarDayRow::Kind::more) {
            lines.push_back("+" + std::to_string(row.hiddenCount));
            continue;
        }
        const auto start = static_cast<std::time_t>(unixSecondsFromDate(row.event.start));
        std::tm local{};
        char at[8];
        std::strftime(at, sizeof at, "%H:%M", localtime_r(&start, &local));
        lines.push_back(std::string(at) + " " + row.event.title);
    }
    return lines;
}

// The sidebar's day read from a real desktop calendar service on a private bus, with the provider the app uses,
// and read again when an event is changed through the client library while it runs.
TEST(CalendarBrowsingWithDesktopCalendar, TheDaysRowsFollowTheDesktopCalendarWhileTheAppRuns)
{
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    test::qtApplication();
    test::EvolutionDataServerSession session;
    ASSERT_TRUE(session.isRunning()) << session.startError();
    const auto uid = session.createWorkCalendar();
    ASSERT_FALSE(uid.empty()) << session.lastError();

    const auto home = session.home();
    CalendarSources::Parts parts;
    parts.files = std::make_shared<ICalendarEventStore>(ICalendarEventStore::Locations{
        home / "data" / "transcription-corvane" / "calendars", home / "data" / "evolution" / "calendar"});
    parts.settings = std::make_shared<CalendarSourceSettings>(home / "config" / "calendar-sources.json");
    parts.desktop = std::make_unique<EvolutionDataServerCalendarSource>();
    parts.importFolder = home / "data" / "transcription-corvane" / "calendars";
    auto sources = std::make_shared<CalendarSources>(std::move(parts));
    auto consent = std::make_shared<ConsentStore>(home / "consent.ini");
    consent->record(ConsentTopic::calendar, Consent::granted);
    auto provider = std::make_shared<EventKitCalendarProvider>(consent, sources);

    QObject owner;
    auto hop = std::make_shared<MainThreadHop>(&owner);
    CalendarBrowsing browsing(provider, hop, tokyoNoon(2026, 1, 15));
    bool refreshed = false;
    browsing.refresh([&] { refreshed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshed; }, 60000));
    EXPECT_EQ(shown(calendarDayRows(browsing.dayEvents())),
              (std::vector<std::string>{"00:00 創立記念日", "09:00 面談", "10:00 NY との電話", "14:00 定例（移動）"}));
    const auto& names = browsing.sourceNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "仕事（デスクトップのアカウント）"), names.end());
    // Evolution's own file of this calendar is the service's to read: its events are not listed twice.
    EXPECT_EQ(browsing.dayEvents().size(), 4u);

    ASSERT_TRUE(session.putEvent(
        uid, test::EvolutionDataServerSession::vevent(
                 "UID:one-off\r\nSUMMARY:面談（変更）\r\nDTSTART:20260115T070000Z\r\nDTEND:20260115T080000Z\r\n")));
    const std::vector<std::string> changed{"00:00 創立記念日", "10:00 NY との電話", "14:00 定例（移動）",
                                           "16:00 面談（変更）"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown(calendarDayRows(browsing.dayEvents())) == changed; }, 60000))
        << ::testing::PrintToString(shown(calendarDayRows(browsing.dayEvents())));

    browsing.moveDay(-7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return browsing.dayEvents().empty(); }, 60000)) << "the excluded week";
    browsing.close();
    hop->close();
}

} // namespace
} // namespace tc
