#include "TranscriptionUI/window/HistorySearchView.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/window/BrowsingTranscriptView.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/TranscriptListView.h"

#include "support/QtTestApplication.h"
#include "support/ViewModelHarness.h"

#include <QDateTime>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <gtest/gtest.h>

namespace tc {
namespace {

Date localDate(int year, int month, int day, int hour, int minute)
{
    const QDateTime time(QDate(year, month, day), QTime(hour, minute));
    return dateFromUnixSeconds(static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0);
}

class HistorySearchViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    // A shown, active window whose model has loaded the history and runs.
    std::unique_ptr<TranscriptionRootView> shownView()
    {
        h.settings->setValue("optInMic", true);
        h.permissions->grantAll();
        model = h.makeModel();
        auto view = std::make_unique<TranscriptionRootView>(model.get(), &defaults);
        view->resize(1000, 800);
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->runControl().isRunning(); }, 30000));
        return view;
    }
    // Japanese arrives from the input method as a committed string.
    static void commitText(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QCoreApplication::sendEvent(field, &commit);
    }
    static std::vector<QListWidgetItem*> lineItems(QListWidget* list)
    {
        std::vector<QListWidgetItem*> items;
        for (int i = 0; i < list->count(); ++i)
            if (!list->item(i)->data(HistorySearchView::lineIdRole).toString().isEmpty())
                items.push_back(list->item(i));
        return items;
    }

    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("view.ini")};
    std::unique_ptr<TranscriptionViewModel> model;
};

TEST_F(HistorySearchViewTest, MixedWidthAndKanaQueryFindsAPastLineAndChoosingItBrowsesItsDayHighlighted)
{
    const Date started = localDate(2026, 12, 5, 14, 5);
    const FinalizedLine guide{Uuid::random(), "次回はｶﾞｲﾄﾞﾗｲﾝの改訂です", started + 120};
    const Date earlier = started - 86400 * 3;
    h.writeHistory({{Uuid::random(),
                     {{Uuid::random(), "おはようございます", started + 60},
                      guide,
                      {Uuid::random(), "資料はＰＤＦで送ります", started + 180}},
                     started,
                     started + 600},
                    {Uuid::random(), {{Uuid::random(), "別の日のガイドライン", earlier}}, earlier - 60, earlier + 60}});
    auto view = shownView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->historyAutosave().pastSessions().size() == 2; }, 30000));
    HistorySearchView* search = view->historySearch();

    // Ctrl+F reaches the field from anywhere in the window.
    view->transcriptList()->setFocus();
    QTest::keyClick(view.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->field()->hasFocus());

    // Hiragana finds half-width katakana in two sessions, newest first, grouped under their dates.
    commitText(search->field(), QStringLiteral("がいどらいん"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lineItems(search->results()).size() == 2; }, 30000));
    EXPECT_FALSE(search->results()->isHidden());
    ASSERT_EQ(search->results()->count(), 4);
    const auto plain = [&](int row) {
        return search->results()->item(row)->data(HistorySearchView::plainTextRole).toString();
    };
    EXPECT_EQ(plain(0), QStringLiteral("2026年12月5日 14:05 のセッション"));
    EXPECT_EQ(plain(1), TranscriptLineListModel::formatTime(guide.time) + QStringLiteral("  次回はｶﾞｲﾄﾞﾗｲﾝの改訂です"));
    EXPECT_EQ(plain(2), QStringLiteral("2026年12月2日 14:04 のセッション"));
    const QString marked = search->results()->item(1)->data(HistorySearchView::markedTextRole).toString();
    EXPECT_TRUE(marked.contains(QStringLiteral("\">ｶﾞｲﾄﾞﾗｲﾝ</span>の改訂です"))) << marked.toStdString();

    // Choosing a line browses its day, with the line current and highlighted.
    QListWidgetItem* item = lineItems(search->results())[0];
    QTest::mouseClick(search->results()->viewport(), Qt::LeftButton, {},
                      search->results()->visualItemRect(item).center());
    EXPECT_FALSE(view->browsingView()->isHidden());
    ASSERT_TRUE(model->calendarBrowsing().browsingEvent().has_value());
    EXPECT_EQ(model->calendarBrowsing().browsingEvent()->title, "2026年12月5日");
    EXPECT_EQ(model->calendarBrowsing().day(), localDate(2026, 12, 5, 0, 0));
    ASSERT_EQ(view->browsingLines()->rowCount(), 3) << "the whole day is shown, not just the match";
    const auto row = view->browsingLines()->rowOf(guide.id);
    ASSERT_TRUE(row.has_value());
    EXPECT_TRUE(view->browsingLines()->isHighlighted(*row));
    EXPECT_EQ(view->browsingView()->list()->currentIndex().row(), *row);

    // Return in the field chooses the first result and leaves the run alone; Down walks into the list.
    model->calendarBrowsing().setBrowsingEvent(std::nullopt);
    search->field()->setFocus();
    QTest::keyClick(search->field(), Qt::Key_Return);
    EXPECT_TRUE(model->runControl().isRunning()) << "Return in the search must not pause";
    EXPECT_EQ(model->readingPosition().highlightedLineID(), guide.id);
    ASSERT_TRUE(model->calendarBrowsing().browsingEvent().has_value());
    search->field()->setFocus();
    QTest::keyClick(search->field(), Qt::Key_Down);
    EXPECT_TRUE(search->results()->hasFocus());
    EXPECT_EQ(search->results()->currentRow(), 1);

    // Escape clears the field and closes the results, also after a query that matched nothing.
    search->field()->setFocus();
    QTest::keyClick(search->field(), Qt::Key_Escape);
    EXPECT_TRUE(search->field()->text().isEmpty());
    EXPECT_TRUE(search->results()->isHidden());
    EXPECT_TRUE(model->historySearch().results().sessions.empty());
    commitText(search->field(), QStringLiteral("存在しない語"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !search->summary()->isHidden(); }, 30000));
    QTest::keyClick(search->field(), Qt::Key_Escape);
    EXPECT_TRUE(search->summary()->isHidden());
    EXPECT_TRUE(search->results()->isHidden());
}

TEST_F(HistorySearchViewTest, LiveLinesBecomeFindableWhileTheWindowKeepsTurningAndClearingEmptiesTheResults)
{
    // A history large enough that each search takes a while on the worker.
    std::vector<TranscriptSession> sessions;
    const Date base = localDate(2026, 11, 1, 9, 0);
    for (int s = 0; s < 60; ++s) {
        TranscriptSession session{Uuid::random(), {}, base + s * 3600.0, base + s * 3600.0 + 1800};
        for (int l = 0; l < 300; ++l)
            session.lines.push_back(
                FinalizedLine{Uuid::random(), "定例の議事 " + std::to_string(l) + " ｶﾝｹｲ資料", session.startedAt + l});
        sessions.push_back(std::move(session));
    }
    h.writeHistory(sessions);
    auto view = shownView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->historyAutosave().pastSessions().size() == 60; }, 30000));
    HistorySearchView* search = view->historySearch();

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(0);

    commitText(search->field(), QStringLiteral("ケッサンほうこく"));
    const auto noMatch = [&] {
        return !search->summary()->isHidden() && search->summary()->text().contains("ありません");
    };
    ASSERT_TRUE(QTest::qWaitFor(noMatch, 30000));
    EXPECT_TRUE(model->historySearch().results().sessions.empty());

    view->model()->handle(OutputEvent::finalizedTranscript("今期のけっさんホウコクです"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lineItems(search->results()).size() == 1; }, 30000));
    const auto& hits = model->historySearch().results().sessions;
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].sessionId, model->sessionTranscript().sessionID());
    EXPECT_GT(ticks, 0) << "the event loop kept turning while the worker searched";

    // A query matching every past line is cut short but still answers.
    search->field()->clear();
    commitText(search->field(), QStringLiteral("かんけい"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->historySearch().results().truncated; }, 30000));
    EXPECT_EQ(model->historySearch().results().matchedLines, 60u * 300u);
    EXPECT_TRUE(search->summary()->text().contains(QStringLiteral("18000 行")));

    model->clearAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->historySearch().results().sessions.empty(); }, 30000));
    EXPECT_TRUE(search->results()->isHidden());
}

} // namespace
} // namespace tc
