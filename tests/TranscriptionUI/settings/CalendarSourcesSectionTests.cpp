#include "TranscriptionUI/settings/CalendarSourcesSection.h"

#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"
#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"
#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"
#include "TranscriptionUI/settings/CalendarSourcesModel.h"

#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;

std::string calendar(const std::string& title)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:" + title +
           "\r\nSUMMARY:" + title +
           "\r\nDTSTART:20260115T010000Z\r\nDTEND:20260115T020000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

class CalendarPage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    void SetUp() override
    {
        fs::create_directories(downloads);
        CalendarSources::Parts parts;
        parts.files = std::make_shared<ICalendarEventStore>(
            ICalendarEventStore::Locations{root / "calendars", std::nullopt, root / "subscriptions"});
        parts.settings = std::make_shared<CalendarSourceSettings>(root / "calendar-sources.json");
        parts.importFolder = root / "calendars";
        sources = std::make_shared<CalendarSources>(std::move(parts));
        model = new CalendarSourcesModel(sources);
        page = std::make_unique<CalendarSourcesSection>(model);
        model->setParent(page.get());
        page->show();
    }

    // Picks the file in the page's own dialog, as the user would; the dialog opens with its name field empty.
    void choose(const fs::path& file)
    {
        page->findChild<QPushButton*>("addCalendarFile")->click();
        QFileDialog* dialog = nullptr;
        for (auto* shown : page->findChildren<QFileDialog*>("calendarFileDialog"))
            if (shown->isVisible()) dialog = shown;
        ASSERT_TRUE(dialog);
        EXPECT_EQ(page->findChildren<QFileDialog*>("calendarFileDialog").size(), 1) << "one dialog at a time";
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_TRUE(name);
        EXPECT_TRUE(name->text().isEmpty()) << "the last file is not offered again: " << name->text().toStdString();
        dialog->selectFile(QString::fromStdString(file.string()));
        QMetaObject::invokeMethod(dialog, "accept");
    }

    QString message() const { return page->findChild<QLabel*>("calendarSourcesMessage")->text(); }

    QStringList names() const
    {
        QStringList names;
        for (auto* label : page->findChildren<QLabel*>("calendarSourceName"))
            names << label->text();
        return names;
    }

    test::TemporaryDirectory dir;
    const fs::path root = dir.path();
    const fs::path downloads = root / "Downloads";
    std::shared_ptr<CalendarSources> sources;
    CalendarSourcesModel* model = nullptr;
    std::unique_ptr<CalendarSourcesSection> page;
};

TEST_F(CalendarPage, AFileChosenInTheDialogIsImportedOrLinkedAndABrokenOneSaysWhyInJapanese)
{
    std::ofstream(downloads / "会議.ics") << calendar("会議");
    std::ofstream(downloads / "壊れた.ics") << "これはカレンダーではありません";
    std::ofstream(downloads / "家族.ics") << calendar("家族");

    choose(downloads / "会議.ics");
    ASSERT_TRUE(QTest::qWaitFor([&] { return names().size() == 1; }, 30000));
    EXPECT_EQ(names().front(), QStringLiteral("<b>会議</b>　カレンダーフォルダ"));
    EXPECT_TRUE(fs::exists(root / "calendars" / "会議.ics"));
    EXPECT_FALSE(model->messageIsProblem()) << "a success is not shown as a problem";
    EXPECT_TRUE(page->findChild<QLabel*>("calendarSourceDetail")->text().startsWith(QStringLiteral("1 件・最終更新")));

    // Chosen again by mistake: its events would show twice.
    choose(downloads / "会議.ics");
    ASSERT_TRUE(QTest::qWaitFor([&] { return message().contains(QStringLiteral("すでに")); }, 30000));
    EXPECT_TRUE(message().startsWith(QStringLiteral("「会議.ics」はすでに「会議.ics」として取り込んである")))
        << message().toStdString();
    EXPECT_FALSE(fs::exists(root / "calendars" / "会議 (2).ics"));
    EXPECT_EQ(names().size(), 1);

    choose(downloads / "壊れた.ics");
    ASSERT_TRUE(QTest::qWaitFor([&] { return message().contains(QStringLiteral("読めませんでした")); }, 30000));
    EXPECT_TRUE(message().contains(QStringLiteral("「壊れた.ics」"))) << message().toStdString();
    EXPECT_TRUE(model->messageIsProblem());
    EXPECT_EQ(names().size(), 1);

    page->findChild<QComboBox*>("calendarFileMode")->setCurrentIndex(1);
    choose(downloads / "家族.ics");
    ASSERT_TRUE(QTest::qWaitFor([&] { return names().size() == 2; }, 30000));
    EXPECT_TRUE(names().contains(QStringLiteral("<b>家族</b>　リンクしたファイル")));
    EXPECT_FALSE(fs::exists(root / "calendars" / "家族.ics")) << "linked, not copied";
    EXPECT_EQ(page->findChildren<QPushButton*>("removeCalendarSource").size(), 1) << "only the link can be removed";
}

TEST_F(CalendarPage, ASwitchTurnedOffIsKeptAndTheSourceNoLongerGivesEvents)
{
    fs::create_directories(root / "calendars");
    std::ofstream(root / "calendars" / "休日.ics") << calendar("祝日");
    model->refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return names().size() == 1; }, 30000));
    auto* toggle = page->findChild<QCheckBox*>("calendarSourceEnabled");
    ASSERT_TRUE(toggle->isChecked());
    toggle->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->rows().empty() && !model->rows().front().enabled; }, 30000));
    EXPECT_TRUE(sources->eventsBetween(0, 1e10).empty());
    EXPECT_FALSE(
        CalendarSourceSettings(root / "calendar-sources.json").isEnabled(model->rows().front().id.toStdString()));
}

TEST(CalendarSourcesModel, AgesReadAsPeopleSayThem)
{
    EXPECT_EQ(CalendarSourcesModel::ageText(1000, 1030), QStringLiteral("たった今"));
    EXPECT_EQ(CalendarSourcesModel::ageText(1000, 1000 + 5 * 60), QStringLiteral("5 分前"));
    EXPECT_EQ(CalendarSourcesModel::ageText(1000, 1000 + 3 * 3600), QStringLiteral("3 時間前"));
    EXPECT_EQ(CalendarSourcesModel::ageText(1000, 1000 + 3 * 86400), QStringLiteral("3 日前"));
}

} // namespace
} // namespace tc
