#include "support/TemporaryDirectory.h"
#include "support/ViewModelHarness.h"

#include <QSignalSpy>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace tc::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// Instants in Europe/Berlin, where summer time began on 2026-03-29.
constexpr Date kMarch30Midnight = 796514400; // 2026-03-30 00:00 CEST
constexpr Date kMarch29Midnight = 796431600; // 2026-03-29 00:00 CET, 23 hours earlier
constexpr Date kMarch30At090507 = 796547107; // 09:05:07
constexpr Date kMarch30Noon = 796557600;     // 12:00:00
constexpr Date kMarch30At1230 = kMarch30Noon + 1800;

// A calendar whose day query blocks until opened, like one whose recurrence rules take long to expand.
struct GatedCalendar : FakeCalendarProvider {
    std::vector<CalendarEvent> eventsOnDay(Date day) override
    {
        opened.wait(false);
        return FakeCalendarProvider::eventsOnDay(day);
    }
    void open()
    {
        opened = true;
        opened.notify_all();
    }
    std::atomic<bool> opened = false;
};

class TranscriptionViewModelHistoryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        qtApplication();
    }

    void SetUp() override
    {
        h.fixedClock = true;
        h.clock = kMarch30Noon;
        h.timings.highlightDuration = std::chrono::milliseconds(400);
    }

    // A bootstrapped model that does not run (no source opted in); lines are fed by hand at given times.
    std::unique_ptr<TranscriptionViewModel> idleModel()
    {
        auto model = h.makeModel();
        EXPECT_TRUE(ViewModelHarness::await([&](auto done) { model->bootstrap(done); }));
        return model;
    }

    void addLine(TranscriptionViewModel& model, const std::string& text, Date at)
    {
        h.clock = at;
        model.handle(OutputEvent::finalizedTranscript(text));
    }

    ViewModelHarness h;
};

// The formats are the exporter's and the writes the root view's test; here: what the model hands the exporter.
TEST_F(TranscriptionViewModelHistoryTest, Export_HandsTheLinesAndTimesToTheExporterAndAFailedWriteLosesNothing)
{
    // The session starts a minute before its first line; its lines carry no recognized times, as older ones.
    h.clock = kMarch30At090507 - 60;
    auto model = idleModel();
    TemporaryDirectory directory;
    EXPECT_FALSE(model->transcriptExport(TranscriptExportFormat::markdown).has_value());
    EXPECT_FALSE(model->exportTranscript(directory.path() / "empty.srt", TranscriptExportFormat::srt).has_value());
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "empty.srt"));

    addLine(*model, "おはようございます。", kMarch30At090507);
    addLine(*model, "は`い\n。", kMarch30At090507 + 16);
    h.clock = kMarch30Noon;
    EXPECT_EQ(model->defaultExportFileName(), "transcript-20260330-120000.md");
    EXPECT_EQ(*model->transcriptExport(TranscriptExportFormat::markdown),
              "# 文字起こし\n\n出力日時: 2026-03-30 12:00:00\n\n## 本文\n\n"
              "- `09:05:07` おはようございます。\n- `09:05:23` は`い\n。\n\n");
    // Cue times count from the session start: the first line, finalized at 60 s, is estimated to take 2 s.
    EXPECT_TRUE(model->transcriptExport(TranscriptExportFormat::srt)->starts_with("1\n00:00:58,000 --> 00:01:00,000"));

    // A folder of the same name cannot be replaced: the folder and its contents stay.
    const auto taken = directory.path() / "taken.srt";
    std::filesystem::create_directory(taken);
    std::ofstream(taken / "keep.txt") << "keep";
    const auto exported = model->exportTranscript(taken, TranscriptExportFormat::srt);
    ASSERT_FALSE(exported.has_value());
    const auto& failure = exported.error();
    EXPECT_TRUE(failure.starts_with("エクスポートできませんでした（同じ名前のフォルダがあります）")) << failure;
    EXPECT_EQ(readText(taken / "keep.txt"), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1) << "no temporary left";
}

TEST_F(TranscriptionViewModelHistoryTest, SlowCalendar_NeitherDelaysTheStartNorBlocksTheMainThread)
{
    auto calendar = std::make_shared<GatedCalendar>();
    calendar->setStatus(CalendarAuthorizationStatus::granted);
    const CalendarEvent meeting{"e1", "会議", kMarch30Noon, kMarch30Noon + 600};
    calendar->setEvents(kMarch30Midnight, {meeting});
    h.calendar = calendar;
    h.settings->setValue("optInMic", true);
    h.permissions->grantAll();
    auto model = h.makeModel();
    // Opened before the model goes, whatever fails: its calendar worker is joined then.
    const struct OpenAtEnd {
        GatedCalendar& calendar;
        ~OpenAtEnd() { calendar.open(); }
    } openAtEnd{*calendar};
    bool booted = false;
    model->bootstrap([&] { booted = true; });

    EXPECT_TRUE(QTest::qWaitFor([&] { return model->runControl().isRunning(); }, 30000))
        << "the start does not wait for the day";
    EXPECT_TRUE(model->calendarBrowsing().dayEvents().empty());
    EXPECT_FALSE(booted);

    calendar->open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return booted; }, 30000));
    EXPECT_EQ(model->calendarBrowsing().dayEvents(), std::vector<CalendarEvent>{meeting}) << "the events arrive later";
}

TEST_F(TranscriptionViewModelHistoryTest, SidebarDay_MovesByCalendarDaysAcrossSummerTimeLoadingOnlyOnceGranted)
{
    h.clock = kMarch30At1230;
    h.calendar->setStatus(CalendarAuthorizationStatus::denied);
    const CalendarEvent meeting{"e1", "会議", kMarch29Midnight + 3600, kMarch29Midnight + 7200};
    h.calendar->setEvents(kMarch29Midnight, {meeting});
    auto model = idleModel();
    EXPECT_EQ(model->calendarBrowsing().day(), kMarch30Midnight);
    EXPECT_EQ(model->calendarBrowsing().status(), CalendarAuthorizationStatus::denied);

    // Denied: the day still moves (a 23-hour day back), but nothing is asked of the calendar.
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->calendarBrowsing().moveDay(-1, done); }));
    EXPECT_EQ(model->calendarBrowsing().day(), kMarch29Midnight);
    EXPECT_TRUE(model->calendarBrowsing().dayEvents().empty());
    EXPECT_TRUE(h.calendar->requestedDays().empty());

    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->calendarBrowsing().requestAccess(done); }));
    EXPECT_EQ(h.calendar->accessRequests(), 1);
    EXPECT_EQ(model->calendarBrowsing().status(), CalendarAuthorizationStatus::granted);
    EXPECT_EQ(model->calendarBrowsing().dayEvents(), std::vector<CalendarEvent>{meeting});
    EXPECT_EQ(h.calendar->requestedDays(), std::vector<Date>{kMarch29Midnight});

    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->calendarBrowsing().moveDay(1, done); }));
    EXPECT_EQ(model->calendarBrowsing().day(), kMarch30Midnight);
    EXPECT_TRUE(model->calendarBrowsing().dayEvents().empty());
}

TEST_F(TranscriptionViewModelHistoryTest, BrowsingAnEvent_IncludesLinesOnBothBoundsFromEverySessionRecoveredOnesToo)
{
    const CalendarEvent event{"e1", "会議", kMarch30At090507, kMarch30At090507 + 600};
    const TranscriptSession past{Uuid::random(),
                                 {FinalizedLine{Uuid::random(), "開始ちょうど", event.start},
                                  FinalizedLine{Uuid::random(), "前", event.start - 1}},
                                 event.start - 10,
                                 event.start + 5};
    // Without its version the file is not whole, but its session is the user's.
    std::ofstream(h.historyPath()) << nlohmann::json{{"sessions", nlohmann::json::array({past})}}.dump();
    auto model = idleModel();
    EXPECT_EQ(model->historyAutosave().pastSessions(), std::vector<TranscriptSession>{past});
    ASSERT_EQ(model->noticeLog().notices().size(), 1u);
    EXPECT_THAT(model->noticeLog().notices()[0],
                AllOf(HasSubstr("セッション 1 件を復元しました"),
                      HasSubstr("「" + (h.historyPath().parent_path() / "history.damaged-").string())))
        << "where the original went; the store's own test checks the file kept there";
    addLine(*model, "終了ちょうど", event.end);
    addLine(*model, "終了の一秒後", event.end + 1);
    addLine(*model, "途中", event.start + 60);

    QSignalSpy changes(&model->calendarBrowsing(), &CalendarBrowsing::browsingEventChanged);
    model->calendarBrowsing().setBrowsingEvent(event);
    model->calendarBrowsing().setBrowsingEvent(event);
    EXPECT_EQ(changes.count(), 1);

    std::vector<std::string> texts;
    for (const auto& l : model->browsingLines())
        texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"開始ちょうど", "途中", "終了ちょうど"}));
    EXPECT_TRUE(model->hasLines(event));
    EXPECT_FALSE(model->hasLines(CalendarEvent{"e2", "空", event.end + 100, event.end + 200}));
    EXPECT_FALSE(model->hasLines(CalendarEvent{"e3", "逆", event.end, event.start}));

    model->calendarBrowsing().setBrowsingEvent(CalendarEvent{"e2", "空", event.end + 100, event.end + 200});
    EXPECT_TRUE(model->browsingLines().empty());
    EXPECT_EQ(model->allLines().size(), 5u);
    EXPECT_EQ(model->allLines().front().text, "前");
}

TEST_F(TranscriptionViewModelHistoryTest, ClearAll_KeepsNoticesAndTheRunAndDeletesTheFile)
{
    h.fixedClock = false;
    h.settings->setValue("optInMic", true);
    h.permissions->grantAll();
    h.writeHistory({TranscriptSession{Uuid::random(), {FinalizedLine{Uuid::random(), "昔", 1}}, 0, 2.0}});
    auto model = h.makeModel();
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->bootstrap(done); }));
    model->handle(OutputEvent::notice("お知らせ"));
    model->handle(OutputEvent::finalizedTranscript("今の行"));
    model->readingPosition().setFollowingLatest(false);
    model->handle(OutputEvent::finalizedTranscript("次の行"));
    model->conversationAsking().setQuestion("質問");
    model->calendarBrowsing().setBrowsingEvent(CalendarEvent{"e", "t", 0, 1});
    const auto oldSession = model->sessionTranscript().sessionID();

    model->clearAll();
    EXPECT_TRUE(model->sessionTranscript().lines().empty());
    EXPECT_TRUE(model->historyAutosave().pastSessions().empty());
    EXPECT_FALSE(model->calendarBrowsing().browsingEvent().has_value());
    EXPECT_NE(model->sessionTranscript().sessionID(), oldSession);
    EXPECT_TRUE(model->readingPosition().isFollowingLatest());
    EXPECT_EQ(model->readingPosition().unreadCount(), 0);
    EXPECT_TRUE(model->conversationAsking().question().empty());
    EXPECT_EQ(model->noticeLog().notices(), std::vector<std::string>{"お知らせ"});
    EXPECT_TRUE(model->runControl().isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !std::filesystem::exists(h.historyPath()); }, 30000));

    // The save pending for the cleared lines is dropped: quitting, which writes whatever is pending, writes nothing.
    model->shutdown();
    EXPECT_FALSE(std::filesystem::exists(h.historyPath()));
}

TEST_F(TranscriptionViewModelHistoryTest, UnreadLinesCountWhileReadingBackAndAHighlightClearsUnlessANewerLineTookIt)
{
    const FinalizedLine old{Uuid::random(), "昔", 5};
    h.writeHistory({TranscriptSession{Uuid::random(), {old}, 0, 6.0}});
    auto model = idleModel();
    auto& reading = model->readingPosition();
    // The count itself is the root view's jump button test; here: what a citation's highlight leaves of it.
    addLine(*model, "一", kMarch30Noon);
    reading.setFollowingLatest(false);
    addLine(*model, "二", kMarch30Noon);
    EXPECT_EQ(reading.unreadCount(), 1);

    const auto a = model->sessionTranscript().lines()[0].id;
    const auto b = model->sessionTranscript().lines()[1].id;
    reading.focusLine(a);
    EXPECT_FALSE(reading.isFollowingLatest());
    EXPECT_EQ(reading.unreadCount(), 1);
    // A's time runs out while B is highlighted: a timer as long, started between the two, fires between theirs.
    std::optional<Uuid> highlightedAfterA;
    QTimer::singleShot(h.timings.highlightDuration, [&] { highlightedAfterA = reading.highlightedLineID(); });
    reading.focusLine(b);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reading.highlightedLineID().has_value(); }, 30000));
    EXPECT_EQ(highlightedAfterA, b) << "A's timer must leave B's highlight alone";

    // Citations look lines up in the current session only.
    EXPECT_EQ(model->sessionTranscript().line(a)->text, "一");
    EXPECT_FALSE(model->sessionTranscript().line(Uuid::random()).has_value());
    ASSERT_EQ(model->historyAutosave().pastSessions().size(), 1u);
    EXPECT_FALSE(model->sessionTranscript().line(old.id).has_value());
}

TEST_F(TranscriptionViewModelHistoryTest, Asking_WaitsOutAnUnavailableResponderIgnoresBlankAndOverlappingQuestions)
{
    h.timings.availabilityRecheck = std::chrono::milliseconds(50);
    h.responder->setAvailability(ConversationResponderAvailability::unavailable("モデルがありません。"));
    auto model = idleModel();
    addLine(*model, "行", kMarch30Noon);
    model->conversationAsking().setQuestion("質問");
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->askAboutConversation(done); }));
    EXPECT_EQ(h.responder->calls(), 0);

    // A model still loading becomes available by itself, without a restart.
    h.responder->setAvailability(ConversationResponderAvailability::available("回答は会話の発言からの引用です。"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->conversationAsking().available(); }, 30000));
    EXPECT_EQ(model->conversationAsking().note(), "回答は会話の発言からの引用です。");
    model->conversationAsking().setQuestion(" \n\u3000\t ");
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->askAboutConversation(done); }));
    EXPECT_FALSE(model->conversationAsking().isAsking());
    EXPECT_EQ(h.responder->calls(), 0);

    for (int i = 0; i < 120; ++i)
        addLine(*model, "行" + std::to_string(i), kMarch30Noon + i);
    // The first question loads the model: the note says so while the answer is awaited, and is re-read after.
    h.responder->setAvailability(ConversationResponderAvailability::available("AIモデルを読み込んでいます…"));
    h.responder->hold();
    h.responder->pushAnswer(ConversationAnswer{"答え", {model->sessionTranscript().lines()[100].id}});
    model->conversationAsking().setQuestion("\u3000 何の話？\n");
    bool firstDone = false;
    model->askAboutConversation([&] { firstDone = true; });
    EXPECT_TRUE(model->conversationAsking().isAsking());
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.responder->calls() == 1; }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->conversationAsking().note() == "AIモデルを読み込んでいます…"; }, 30000));
    bool secondDone = false;
    model->askAboutConversation([&] { secondDone = true; });
    EXPECT_TRUE(secondDone);
    h.responder->setAvailability(ConversationResponderAvailability::available("ベータ機能です。"));
    h.responder->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstDone; }, 30000));

    EXPECT_EQ(h.responder->calls(), 1);
    EXPECT_EQ(*h.responder->lastQuestion(), "何の話？");
    const auto excerpt = *h.responder->lastExcerpt();
    ASSERT_EQ(excerpt.lines().size(), 80u);
    EXPECT_EQ(excerpt.lines().front().text, "行40");
    EXPECT_FALSE(model->conversationAsking().isAsking());
    EXPECT_EQ(model->conversationAsking().answer()->text, "答え");
    EXPECT_EQ(model->conversationAsking().question(), "\u3000 何の話？\n");
    EXPECT_EQ(model->conversationAsking().note(), "ベータ機能です。");

    // A failure is the question's own outcome, not a notice; the next question clears it as it starts.
    h.responder->pushFailure("モデルが応答しません");
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->askAboutConversation(done); }));
    EXPECT_FALSE(model->conversationAsking().answer().has_value());
    EXPECT_EQ(model->conversationAsking().error(), "うまく答えられませんでした。もう一度お試しください。");
    EXPECT_TRUE(model->noticeLog().notices().empty());
    h.responder->pushAnswer(ConversationAnswer{"三時です", {model->sessionTranscript().lines()[0].id}});
    QSignalSpy errors(&model->conversationAsking(), &ConversationAsking::errorChanged);
    bool done = false;
    model->askAboutConversation([&] { done = true; });
    EXPECT_FALSE(model->conversationAsking().error().has_value()) << "cleared when the question starts";
    EXPECT_EQ(errors.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 30000));
    EXPECT_EQ(model->conversationAsking().answer()->sourceLineIDs,
              std::vector<Uuid>{model->sessionTranscript().lines()[0].id});
    EXPECT_FALSE(model->conversationAsking().error().has_value());
}

} // namespace
} // namespace tc::test
