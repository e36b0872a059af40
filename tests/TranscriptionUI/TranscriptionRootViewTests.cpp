#include "TranscriptionUI/TranscriptionRootView.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/caption/LiveCaptionStyleSettings.h"
#include "TranscriptionUI/presentation/CalendarBrowsing.h"
#include "TranscriptionUI/window/BrowsingTranscriptView.h"
#include "TranscriptionUI/window/CalendarEventRowView.h"
#include "TranscriptionUI/window/CalendarSidebarView.h"
#include "TranscriptionUI/window/SourceControlView.h"
#include "TranscriptionUI/window/ToggleSwitch.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/TranscriptListView.h"
#include "TranscriptionUI/window/WaveformView.h"

#include "support/ViewModelHarness.h"

#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimeZone>
#include <QToolButton>
#include <gtest/gtest.h>

namespace tc {
namespace {

using Status = PermissionManager::Status;
using Kind = SourceAccessState::Kind;

class TranscriptionRootViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    // The application builds the model and hands it to the view; the model outlives every view of the test.
    std::unique_ptr<TranscriptionRootView> makeView()
    {
        models.push_back(h.makeModel());
        return std::make_unique<TranscriptionRootView>(models.back().get(), &defaults);
    }
    static void finalize(TranscriptionRootView& view, const std::string& text)
    {
        view.model()->handle(OutputEvent::finalizedTranscript(text));
    }
    static void refresh(TranscriptionRootView& view)
    {
        ASSERT_TRUE(test::ViewModelHarness::await([&](auto done) { view.model()->sourceAccess().refresh(done); }));
    }

    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("view.ini")};
    std::vector<std::unique_ptr<TranscriptionViewModel>> models;
};

TEST_F(TranscriptionRootViewTest, FontSizeSidebarAndOverlayPreferencesStayInBoundsAndSurviveARestart)
{
    auto view = makeView();
    for (int i = 0; i < 20; ++i)
        view->largerButton()->click();
    EXPECT_DOUBLE_EQ(view->fontSize(), 32.0);
    for (int i = 0; i < 40; ++i)
        view->smallerButton()->click();
    EXPECT_DOUBLE_EQ(view->fontSize(), 12.0);
    view->sidebarToggleAction()->trigger();
    EXPECT_TRUE(view->calendarSidebar()->isHidden());

    // The caption overlay is off on first launch and follows the shared setting both ways once shown.
    view->show();
    EXPECT_EQ(view->captionOverlay()->panel(), nullptr);
    defaults.setBool(LiveCaptionOverlayController::visibilityDefaultsKey, true);
    ASSERT_NE(view->captionOverlay()->panel(), nullptr);
    EXPECT_TRUE(view->captionOverlay()->panel()->isVisible());
    defaults.setBool(LiveCaptionOverlayController::visibilityDefaultsKey, false);
    EXPECT_FALSE(view->captionOverlay()->panel()->isVisible());

    view->setFontSize(20);
    auto again = makeView();
    EXPECT_DOUBLE_EQ(again->fontSize(), 20.0) << "the size survives a restart";
    EXPECT_FALSE(defaults.boolValue(TranscriptionRootView::sidebarVisibleKey, true)) << "so does the hidden sidebar";
}

TEST_F(TranscriptionRootViewTest, BecomingActiveStartsUnlessPausedAndTheRunButtonShowsPauseResumeOrTheHint)
{
    h.settings->setValue("optInMic", true);
    auto view = makeView();
    const auto& run = view->model()->runControl();
    view->show();
    // Reading whether questions can be answered is the start-up's last step before it starts a run.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model()->conversationAsking().available(); }, 30000));
    EXPECT_EQ(run.runGeneration(), 0) << "nothing is allowed yet";
    EXPECT_TRUE(view->runButton()->isHidden());
    EXPECT_FALSE(view->permissionHint()->isHidden()) << "nothing can start: the hint says how to";

    // The user leaves, allows everything elsewhere, then comes back to the window.
    QApplication::setActiveWindow(nullptr);
    h.permissions->grantAll();
    QApplication::setActiveWindow(view.get());
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.isRunning(); }, 30000));
    EXPECT_TRUE(view->permissionHint()->isHidden());
    EXPECT_EQ(view->runButton()->text(), QStringLiteral("一時停止"));
    EXPECT_TRUE(view->runningLabel()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->waveforms().size() == 1; }, 30000));
    EXPECT_EQ(view->waveforms()[0]->id(), AudioSourceID::microphone);

    view->runButton()->click();
    EXPECT_TRUE(run.isPaused());
    EXPECT_EQ(view->runButton()->text(), QStringLiteral("再開"));
    EXPECT_TRUE(view->waveforms().empty());
    EXPECT_TRUE(view->permissionHint()->isHidden()) << "paused, not blocked";
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(view.get());
    refresh(*view); // queued behind the activation's own reading of the permissions
    EXPECT_FALSE(run.isRunning()) << "a paused transcript stays paused";
    view->runButton()->click();
    EXPECT_TRUE(run.isRunning());

    // A run that gave up by itself is not paused, yet its notice asks to start again: the button must be there.
    h.failPipelines("音声認識モデルが壊れています。入れ直してください。");
    view->runButton()->click();
    view->runButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.isRunning(); }, 30000));
    EXPECT_FALSE(run.isPaused());
    EXPECT_EQ(view->model()->noticeLog().notices().back(),
              "エラー: 音声認識モデルが壊れています。入れ直してください。");
    EXPECT_FALSE(view->runButton()->isHidden());
    EXPECT_EQ(view->runButton()->text(), QStringLiteral("再開"));
    const auto generation = run.runGeneration();
    view->runButton()->click();
    EXPECT_EQ(run.runGeneration(), generation + 1) << "the button starts a new run";
}

TEST_F(TranscriptionRootViewTest, SourceControlsTakeTheFormOfTheirAccessState)
{
    auto view = makeView();
    SourceControlView* mic = view->sourceControl(AudioSourceID::microphone);
    SourceControlView* system = view->sourceControl(AudioSourceID::systemAudio);
    // Which of the allow and settings buttons each form offers.
    const struct {
        Status status;
        Kind form;
        bool allow, settings;
    } forms[] = {{Status::undetermined, Kind::undetermined, true, false},
                 {Status::denied, Kind::denied, false, true},
                 {Status::restricted, Kind::restricted, false, false}};
    for (const auto& f : forms) {
        SCOPED_TRACE(static_cast<int>(f.form));
        h.permissions->setMicrophone(f.status);
        refresh(*view);
        EXPECT_EQ(mic->form(), f.form);
        EXPECT_EQ(mic->allowButton()->isHidden(), !f.allow);
        EXPECT_EQ(mic->settingsButton()->isHidden(), !f.settings);
    }

    h.permissions->setMicrophone(Status::granted);
    h.permissions->setScreenRecording(true);
    refresh(*view);
    EXPECT_EQ(mic->form(), Kind::granted);
    EXPECT_EQ(system->form(), Kind::granted);
    mic->toggle()->click();
    EXPECT_TRUE(view->model()->sourceAccess().optInMic()) << "the switch is bound to the opt-in flag";

    view->model()->sourceAccess().setSystemAudioRequested(true);
    h.permissions->setScreenRecording(false);
    refresh(*view);
    EXPECT_EQ(system->form(), Kind::denied);
}

TEST_F(TranscriptionRootViewTest, ScrollingAwayStopsFollowingAndTheJumpButtonOrScrollingBackResumesIt)
{
    auto view = makeView();
    view->resize(900, 500);
    view->show();
    for (int i = 0; i < 60; ++i)
        finalize(*view, "行 " + std::to_string(i));
    QScrollBar* bar = view->transcriptList()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 100 && bar->value() == bar->maximum(); }, 30000))
        << "following keeps the newest line in view";

    // Following would move the bar once the list has laid the new rows out.
    const auto laidOutAfter = [&](const std::function<void()>& change) {
        QSignalSpy ranges(bar, &QScrollBar::rangeChanged);
        change();
        return QTest::qWaitFor([&] { return !ranges.isEmpty(); }, 30000);
    };
    bar->setValue(0);
    EXPECT_FALSE(view->model()->readingPosition().isFollowingLatest());
    ASSERT_TRUE(laidOutAfter([&] {
        for (const char* text : {"一", "二", "三"})
            finalize(*view, text);
    }));
    EXPECT_EQ(view->jumpButton()->text(), QStringLiteral("最新へ（3）"));
    EXPECT_EQ(bar->value(), 0) << "reading back is not interrupted";
    view->jumpButton()->click();
    EXPECT_TRUE(view->model()->readingPosition().isFollowingLatest());
    EXPECT_TRUE(view->jumpButton()->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == bar->maximum(); }, 30000));

    bar->setValue(0);
    finalize(*view, "新しい行");
    bar->setValue(bar->maximum() - 24);
    EXPECT_TRUE(view->model()->readingPosition().isFollowingLatest()) << "scrolling near the end follows again";
    EXPECT_EQ(view->model()->readingPosition().unreadCount(), 0);

    // A citation brings its line into view and stops following.
    view->model()->readingPosition().focusLine(view->model()->sessionTranscript().lines()[0].id);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 0; }, 30000)) << "the first line is shown";
    EXPECT_FALSE(view->model()->readingPosition().pendingScrollTarget().has_value());
    ASSERT_TRUE(laidOutAfter([&] { finalize(*view, "引用の後の行"); }));
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(TranscriptionRootViewTest, RowsShowTimeSpeakerAndTextAndTheVolatileTextInItalicsUntilClearedOnConfirmation)
{
    auto view = makeView();
    auto labelled = OutputEvent::finalizedTranscript("資料を共有します", 1.5, 3.25);
    labelled.speaker = SpeakerLabel::other;
    view->model()->handle(labelled);
    view->model()->handle(OutputEvent::volatileTranscript("今日は"));
    ASSERT_EQ(view->transcriptLines()->rowCount(), 1);
    EXPECT_EQ(view->transcriptLines()->index(0).data(Qt::AccessibleTextRole).toString(),
              QStringLiteral("相手：資料を共有します"));
    EXPECT_TRUE(view->volatileLabel()->font().italic());
    EXPECT_EQ(view->volatileLabel()->text(), QStringLiteral("今日は"));

    // Copied as the exports write it: the time, a speaker tag where there is one, the text.
    finalize(*view, "ラベルなし");
    view->show();
    view->transcriptList()->selectAll();
    static_cast<TranscriptListView*>(view->transcriptList())->copySelection();
    const auto time = [&](int i) {
        return TranscriptLineListModel::formatTime(view->model()->sessionTranscript().lines()[i].time);
    };
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              time(0) + QStringLiteral(" [相手] 資料を共有します\n") + time(1) + QStringLiteral(" ラベルなし"));

    // The caption leaves the tag out until the preference asks for it, and follows the preference both ways.
    EXPECT_EQ(view->model()->liveCaptionContent().texts(),
              (std::vector<std::string>{"資料を共有します", "ラベルなし"}));
    defaults.setBool(LiveCaptionOverlayController::showSpeakerDefaultsKey, true);
    EXPECT_EQ(view->model()->liveCaptionContent().texts(),
              (std::vector<std::string>{"[相手] 資料を共有します", "ラベルなし"}));
    defaults.setBool(LiveCaptionOverlayController::showSpeakerDefaultsKey, false);
    EXPECT_EQ(view->model()->liveCaptionContent().texts()[0], "資料を共有します");

    // A new line is one insert, not a rebuilt list, and the highlight stays on its row.
    view->model()->readingPosition().focusLine(view->model()->sessionTranscript().lines()[0].id);
    EXPECT_TRUE(view->transcriptLines()->isHighlighted(0));
    EXPECT_FALSE(view->transcriptLines()->isHighlighted(1));
    QSignalSpy inserts(view->transcriptLines(), &QAbstractItemModel::rowsInserted);
    QSignalSpy resets(view->transcriptLines(), &QAbstractItemModel::modelReset);
    finalize(*view, "三行目");
    EXPECT_EQ(inserts.count(), 1);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_TRUE(view->transcriptLines()->isHighlighted(0));

    // Clearing asks first, with the question showing; cancelling keeps everything.
    bool askedWhileShowing = false;
    view->setClearConfirmation([&] {
        askedWhileShowing = view->showClearConfirm();
        return false;
    });
    view->clearButton()->click();
    EXPECT_TRUE(askedWhileShowing);
    EXPECT_FALSE(view->showClearConfirm());
    EXPECT_EQ(view->transcriptLines()->rowCount(), 3);
    view->setClearConfirmation([] { return true; });
    view->clearButton()->click();
    EXPECT_TRUE(view->model()->sessionTranscript().lines().empty());
    EXPECT_EQ(view->transcriptLines()->rowCount(), 0);
    EXPECT_FALSE(view->clearButton()->isEnabled());
}

// The number of lines chosen for the caption is what the panel holds, one to five, the newest kept.
TEST_F(TranscriptionRootViewTest, CaptionHoldsTheChosenNumberOfLinesFromOneToFive)
{
    auto view = makeView();
    view->show();
    defaults.setBool(LiveCaptionOverlayController::visibilityDefaultsKey, true);
    for (const char* text : {"一行目", "二行目", "三行目", "四行目", "五行目", "六行目"})
        finalize(*view, text);
    view->model()->handle(OutputEvent::volatileTranscript("七行目の途中"));
    const auto shown = [&] { return view->model()->liveCaptionContent().texts(); };
    EXPECT_EQ(shown(), (std::vector<std::string>{"六行目", "七行目の途中"})) << "two until chosen";

    LiveCaptionStyleSettings settings(&defaults);
    settings.setLines(4);
    EXPECT_EQ(shown(), (std::vector<std::string>{"四行目", "五行目", "六行目", "七行目の途中"}));
    defaults.setValue(LiveCaptionStyleSettings::linesKey, 9);
    EXPECT_EQ(shown().size(), 5u) << "at most five";
    defaults.setValue(LiveCaptionStyleSettings::linesKey, 0);
    EXPECT_EQ(shown(), std::vector<std::string>{"七行目の途中"}) << "at least one: the newest";

    // The open panel draws the lines it is handed, one row each.
    settings.setLines(3);
    ASSERT_NE(view->captionOverlay()->panel(), nullptr);
    const auto* panelView = view->captionOverlay()->panel()->view();
    EXPECT_FALSE(panelView->lineRect(2).isEmpty());
    EXPECT_TRUE(panelView->lineRect(3).isEmpty());
    EXPECT_GT(panelView->lineRect(2).top(), panelView->lineRect(1).bottom());
}

TEST_F(TranscriptionRootViewTest, ExportDialogOffersEveryFormatAndTheChosenTypeDecidesUnlessTheNameHasOne)
{
    using Location = TranscriptionRootView::ExportLocation;
    auto view = makeView();
    EXPECT_FALSE(view->exportButton()->isEnabled());
    finalize(*view, "テスト行");
    EXPECT_TRUE(view->exportButton()->isEnabled());
    const QString folder = h.dir.filePath("exports");
    QDir().mkpath(folder);
    const auto read = [&](const QString& name) {
        QFile file(folder + QLatin1Char('/') + name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return file.readAll();
    };

    // The dialog is modal: it is driven from the event loop it runs.
    QStringList offered;
    QString renamed;
    QTimer::singleShot(0, view.get(), [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        offered = dialog->nameFilters();
        dialog->setDirectory(folder);
        dialog->selectNameFilter(offered.value(1));
        renamed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        static_cast<QDialog*>(dialog)->accept();
    });
    view->exportButton()->click();
    EXPECT_EQ(offered.size(), 4);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^transcript-\\d{8}-\\d{6}\\.srt$")).match(renamed).hasMatch())
        << renamed.toStdString();
    EXPECT_TRUE(read(renamed).startsWith("1\n00:00:"));

    const struct {
        const char* name;
        TranscriptExportFormat chosen;
        QByteArray start;
    } cases[] = {{"字幕", TranscriptExportFormat::srt, "1\n00:00:"},
                 {"字幕.VTT", TranscriptExportFormat::plainText, "WEBVTT\n"},
                 {"本文.txt", TranscriptExportFormat::srt, "テスト行\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromUtf8(c.name);
        view->setSaveLocationChooser([&](const QString&) -> std::optional<Location> {
            return Location{folder + '/' + name, c.chosen};
        });
        view->exportButton()->click();
        EXPECT_TRUE(read(name).startsWith(c.start));
    }

    QStringList errors;
    view->setErrorReporter([&](const QString& message) { errors << message; });
    view->setSaveLocationChooser([&](const QString&) -> std::optional<Location> {
        return Location{h.dir.filePath("missing/dir/out.md"), TranscriptExportFormat::markdown};
    });
    view->exportButton()->click();
    ASSERT_EQ(errors.size(), 1) << "a failed write is reported, not passed off as done";
    EXPECT_TRUE(errors.front().contains(QStringLiteral("保存先のフォルダがありません")))
        << errors.front().toStdString();
}

TEST_F(TranscriptionRootViewTest, SidebarShowsTenRowsPerSeriesAndAChosenEventShowsItsLinesUntilLiveComesBack)
{
    const QDateTime sunday(QDate(2026, 12, 6), QTime(0, 0));
    EXPECT_EQ(CalendarSidebarView::dateText(dateFromUnixSeconds(static_cast<double>(sunday.toSecsSinceEpoch()))),
              QStringLiteral("12/6 (日)"));

    h.fixedClock = true;
    h.clock = 800000000;
    const Date day = CalendarBrowsing::startOfLocalDay(h.clock);
    std::vector<CalendarEvent> events{CalendarEvent{"single", "単発", day, day + 60}};
    // A rule repeating every second from midnight: its 86,400 instances share the UID.
    const auto midnight = static_cast<qint64>(unixSecondsFromDate(day));
    for (int i = 0; i < 86400; ++i) {
        const QDateTime start = QDateTime::fromSecsSinceEpoch(midnight + i, QTimeZone::utc());
        events.push_back(
            CalendarEvent{"rule@example/" + start.toString(QStringLiteral("yyyyMMddTHHmmssZ")).toStdString(), "毎秒",
                          day + i, day + i + 1});
    }
    h.calendar->setStatus(CalendarAuthorizationStatus::granted);
    h.calendar->setEvents(day, events);
    auto view = makeView();
    ASSERT_TRUE(test::ViewModelHarness::await([&](auto done) { view->model()->bootstrap(done); }));

    const auto& rows = view->calendarSidebar()->eventRows();
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[0]->text(), QStringLiteral("単発"));
    ASSERT_EQ(view->calendarSidebar()->moreRows().size(), 1u);
    EXPECT_EQ(view->calendarSidebar()->moreRows()[0]->text(), QStringLiteral("ほか 86390 件"));

    rows[1]->click();
    EXPECT_EQ(view->model()->calendarBrowsing().browsingEvent(), events[1])
        << "a shown instance is still an event to browse";
    EXPECT_FALSE(view->browsingView()->isHidden());
    EXPECT_FALSE(view->browsingView()->emptyLabel()->isHidden()) << "nothing was said then";

    finalize(*view, "会議の行");
    const Date t = h.clock;
    view->model()->calendarBrowsing().setBrowsingEvent(CalendarEvent{"e1", "定例", t - 60, t + 60});
    ASSERT_EQ(view->browsingLines()->rowCount(), 1);
    EXPECT_EQ(view->browsingLines()->index(0).data().toString(), QStringLiteral("会議の行"));
    h.clock = t + 30;
    finalize(*view, "閲覧中に来た行");
    EXPECT_EQ(view->browsingLines()->rowCount(), 2) << "a line inside the browsed event joins it";
    h.clock = t + 600;
    finalize(*view, "予定の後の行");
    EXPECT_EQ(view->browsingLines()->rowCount(), 2);
    view->model()->calendarBrowsing().setBrowsingEvent(std::nullopt);
    EXPECT_TRUE(view->browsingView()->isHidden());
    EXPECT_EQ(view->transcriptLines()->rowCount(), 3) << "lines that arrived while browsing are kept";
}

TEST_F(TranscriptionRootViewTest, QuestionFieldShowsWhyItIsUnavailableSubmitsWithReturnAndCitationsJumpToLines)
{
    h.responder->setAvailability(ConversationResponderAvailability::unavailable("モデルがありません。"));
    auto view = makeView();
    const auto refresh = [&] {
        ASSERT_TRUE(
            test::ViewModelHarness::await([&](auto done) { view->model()->conversationAsking().refreshAvailability(done); }));
    };
    refresh();
    EXPECT_FALSE(view->questionField()->isVisibleTo(view.get()));
    const auto labels = view->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
        return label->text() == QStringLiteral("「きく」は使えません: モデルがありません。");
    }));

    h.responder->setAvailability(ConversationResponderAvailability::available());
    refresh();
    EXPECT_TRUE(view->questionField()->isVisibleTo(view.get()));
    finalize(*view, "例の件は来週です");
    const Uuid cited = view->model()->sessionTranscript().lines()[0].id;
    h.responder->pushAnswer(ConversationAnswer{"来週です。", {cited}});

    // Japanese arrives from the input method as a committed string.
    view->questionField()->setFocus();
    QInputMethodEvent preedit(QStringLiteral("れいのけん"), {});
    QCoreApplication::sendEvent(view->questionField(), &preedit);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("例の件は？"));
    QCoreApplication::sendEvent(view->questionField(), &commit);
    EXPECT_EQ(view->model()->conversationAsking().question(), "例の件は？");
    QTest::keyClick(view->questionField(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model()->conversationAsking().answer().has_value(); }, 30000));
    EXPECT_EQ(h.responder->calls(), 1);

    const auto buttons = view->findChildren<QToolButton*>();
    const QString time = TranscriptLineListModel::formatTime(view->model()->sessionTranscript().lines()[0].time);
    const auto citation = std::find_if(buttons.begin(), buttons.end(), [&](auto* b) { return b->text() == time; });
    ASSERT_NE(citation, buttons.end());
    (*citation)->click();
    EXPECT_EQ(view->model()->readingPosition().highlightedLineID(), cited);
    EXPECT_FALSE(view->model()->readingPosition().isFollowingLatest());
}

} // namespace
} // namespace tc
