#include "TranscriptionInfrastructure/calendar/CalendarSources.h"

#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"
#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"

#include "support/ExpectedMatchers.h"
#include "support/TemporaryDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;

std::string calendar(const std::string& uid, const std::string& title)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + title +
           "\r\nDTSTART:20260115T010000Z\r\nDTEND:20260115T020000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

Date utc(int year, int month, int day)
{
    std::tm fields{0, 0, 0, day, month - 1, year - 1900};
    return dateFromUnixSeconds(static_cast<double>(timegm(&fields)));
}

void write(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class Sources : public ::testing::Test {
protected:
    std::shared_ptr<CalendarSources> make()
    {
        CalendarSources::Parts parts;
        parts.files = std::make_shared<ICalendarEventStore>(
            ICalendarEventStore::Locations{root / "calendars", root / "evolution", root / "subscriptions"});
        parts.settings = std::make_shared<CalendarSourceSettings>(root / "config" / "calendar-sources.json");
        parts.importFolder = root / "calendars";
        return std::make_shared<CalendarSources>(std::move(parts));
    }

    std::vector<std::string> titles(CalendarSources& sources)
    {
        std::vector<std::string> titles;
        for (const auto& e : sources.eventsBetween(utc(2026, 1, 15), utc(2026, 1, 16)))
            titles.push_back(e.summary.value_or("?"));
        std::sort(titles.begin(), titles.end());
        return titles;
    }

    test::TemporaryDirectory dir;
    const fs::path root = dir.path();
    const fs::path downloads = root / "Downloads";
};

TEST_F(Sources, AnImportedFileIsCopiedBesideOthersOfItsNameAndTheOriginalStaysAsItWas)
{
    auto sources = make();
    write(downloads / "会議.ics", calendar("a", "取り込み"));
    write(root / "calendars" / "会議.ics", calendar("b", "前からある"));
    EXPECT_THAT(sources->importFile(downloads / "会議.ics"), test::Succeeds());
    EXPECT_EQ(test::readText(root / "calendars" / "会議 (2).ics"), calendar("a", "取り込み"));
    EXPECT_EQ(test::readText(root / "calendars" / "会議.ics"), calendar("b", "前からある")) << "never replaced";
    EXPECT_EQ(titles(*sources), (std::vector<std::string>{"前からある", "取り込み"}));
    const auto imported = sources->importFile(downloads / "会議.ics");
    ASSERT_FALSE(imported) << "the same bytes are not copied twice";
    const auto& again = imported.error();
    EXPECT_NE(again.find("すでに「会議 (2).ics」として取り込んである"), std::string::npos) << again;
    EXPECT_FALSE(fs::exists(root / "calendars" / "会議 (3).ics"));
    fs::remove(downloads / "会議.ics");
    EXPECT_EQ(titles(*sources).size(), 2u) << "the copy does not depend on the original";
}

TEST_F(Sources, AMalformedFileIsRefusedInJapaneseAndNothingIsCopiedOrChanged)
{
    auto sources = make();
    const std::string junk = "BEGIN:VCARD\r\nFN:not a calendar\r\nEND:VCARD\r\n";
    write(downloads / "連絡先.ics", junk);
    const auto imported = sources->importFile(downloads / "連絡先.ics");
    ASSERT_FALSE(imported);
    const auto& problem = imported.error();
    EXPECT_NE(problem.find("「連絡先.ics」は iCalendar（.ics）として読めませんでした"), std::string::npos) << problem;
    EXPECT_FALSE(fs::exists(root / "calendars" / "連絡先.ics"));
    EXPECT_EQ(test::readText(downloads / "連絡先.ics"), junk);
    EXPECT_FALSE(sources->linkFile(downloads / "連絡先.ics"));
    EXPECT_FALSE(sources->importFile(downloads / "ない.ics"));
    EXPECT_TRUE(sources->sources().empty());
}

TEST_F(Sources, ALinkedFileIsReadWhereItIsFollowsItsChangesAndCanBeSwitchedOffAndRemoved)
{
    auto sources = make();
    const auto file = downloads / "家族.ics";
    write(file, calendar("f", "運動会"));
    EXPECT_THAT(sources->linkFile(file), test::Succeeds());
    EXPECT_FALSE(sources->linkFile(file)) << "linked once only";
    EXPECT_EQ(titles(*sources), (std::vector<std::string>{"運動会"}));
    write(file, calendar("f", "運動会（雨天延期）"));
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(2));
    EXPECT_EQ(titles(*sources), (std::vector<std::string>{"運動会（雨天延期）"}));

    const auto listed = sources->sources();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "家族");
    EXPECT_EQ(listed[0].kind, CalendarSourceKind::linkedFile);
    EXPECT_EQ(listed[0].eventCount, std::optional<std::size_t>(1));
    EXPECT_TRUE(listed[0].enabled);

    sources->setEnabled(listed[0].id, false);
    EXPECT_TRUE(titles(*sources).empty());
    auto again = make();
    EXPECT_TRUE(titles(*again).empty()) << "the switch is kept";
    EXPECT_FALSE(again->sources().at(0).enabled);
    again->remove(listed[0].id);
    EXPECT_TRUE(again->sources().empty());
    EXPECT_TRUE(fs::exists(file)) << "removing a link never deletes the user's file";
}

TEST_F(Sources, EverySourceIsListedWithItsKindAndAMovedLinkedFileSaysSo)
{
    write(root / "calendars" / "休日.ics", calendar("h", "祝日"));
    write(root / "evolution" / "system" / "calendar.ics", calendar("e", "Evolution の予定"));
    write(downloads / "出張.ics", calendar("t", "出張"));
    auto sources = make();
    ASSERT_THAT(sources->linkFile(downloads / "出張.ics"), test::Succeeds());
    fs::rename(downloads / "出張.ics", downloads / "出張-old.ics");
    std::vector<std::pair<std::string, CalendarSourceKind>> listed;
    std::string problem;
    for (const auto& source : sources->sources()) {
        listed.emplace_back(source.name, source.kind);
        if (source.kind == CalendarSourceKind::linkedFile) problem = source.problem;
    }
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, CalendarSourceKind>>{
                          {"休日", CalendarSourceKind::calendarsFolder},
                          {"system", CalendarSourceKind::evolutionFile},
                          {"出張", CalendarSourceKind::linkedFile}}));
    EXPECT_NE(problem.find("見つかりません"), std::string::npos);
    EXPECT_EQ(sources->enabledSourceNames().front(), "休日（カレンダーフォルダ）");
}

} // namespace
} // namespace tc
