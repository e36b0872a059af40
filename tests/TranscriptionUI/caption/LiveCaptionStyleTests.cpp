#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/caption/LiveCaptionStyleSettings.h"

#include "support/CaptionPixels.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace tc {
namespace {

using std::chrono_literals::operator""s;

LiveCaptionContent finalAndVolatile()
{
    return LiveCaptionContent{{{0, "本日の議題は三つです", false}, {1, "まず予算の確認から", true}}};
}

QColor qcolor(const LiveCaptionColor& color)
{
    return LiveCaptionStyleSettings::toQColor(color);
}

class LiveCaptionStyleTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }

    test::TemporaryDirectory m_dir;
    PreferencesStore m_defaults{QString::fromStdString((m_dir.path() / "settings.ini").string())};
    LiveCaptionStyleSettings m_settings{&m_defaults};
};

// The panel is read back the way it is seen: drawn over a black and over a white picture.
TEST_F(LiveCaptionStyleTest, Presets_ThePanelIsDrawnInThePresetsColoursWithTheVolatileLineFainter)
{
    m_settings.setFontSize(40);
    LiveCaptionOverlayController controller(&m_defaults);
    controller.update(finalAndVolatile());
    controller.setVisible(true);
    LiveCaptionOverlayView* view = controller.panel()->view();

    for (const auto preset : LiveCaptionPresets::all()) {
        SCOPED_TRACE(LiveCaptionStyleSettings::presetName(preset).toStdString());
        m_settings.applyPreset(preset);
        const LiveCaptionStyle expected = LiveCaptionPresets::applied(preset, LiveCaptionStyle::defaultStyle());
        ASSERT_EQ(LiveCaptionPresets::applied(preset, controller.model()->style()), controller.model()->style());

        const QImage overBlack = test::renderedOver(*view, Qt::black);
        const QImage overWhite = test::renderedOver(*view, Qt::white);
        // Above the first line, inside the box's top padding: background only.
        const QRectF box = view->boxRect();
        const QPoint background(static_cast<int>(box.center().x()), static_cast<int>(box.top()) + 4);
        const auto read = test::backgroundAt(overBlack, overWhite, background);
        EXPECT_NEAR(read.opacity, expected.backgroundOpacity, 0.02);
        if (expected.backgroundOpacity > 0) {
            EXPECT_NEAR(read.color.red(), qcolor(expected.backgroundColor).red(), 3);
            EXPECT_NEAR(read.color.green(), qcolor(expected.backgroundColor).green(), 3);
            EXPECT_NEAR(read.color.blue(), qcolor(expected.backgroundColor).blue(), 3);
        }

        const QColor text = qcolor(expected.textColor);
        // The rows within the box: beside it is the picture.
        const QRect finalLine = view->lineRect(0).intersected(box).toAlignedRect();
        const QRect volatileLine = view->lineRect(1).intersected(box).toAlignedRect();
        for (const auto& [image, picture] :
             {std::pair{&overBlack, QColor(Qt::black)}, std::pair{&overWhite, QColor(Qt::white)}}) {
            SCOPED_TRACE(picture.name().toStdString());
            const QColor boxColor =
                test::composited(qcolor(expected.backgroundColor), expected.backgroundOpacity, picture);
            const LiveCaptionInk ink = expected.textInk(true);
            const QColor faint = test::composited(qcolor(ink.color), ink.opacity, boxColor);
            // Solid letter strokes in the text colour on the final line, in the fainter colour on the volatile one.
            EXPECT_GT(test::pixelsNear(*image, finalLine, text), 100);
            EXPECT_GT(test::pixelsNear(*image, volatileLine, faint), 100);
            if (boxColor != text) {
                EXPECT_LT(test::pixelsNear(*image, volatileLine, text, 2), 5) << "volatile text is never drawn in full";
            }
        }
        // Without a box the letters keep an edge of their own, seen even on a picture of the text's colour.
        if (expected.backgroundOpacity == 0) {
            EXPECT_GT(test::pixelsNear(overWhite, finalLine, qcolor(expected.edgeColor())), 100);
        }
    }
}

TEST_F(LiveCaptionStyleTest, LookChoices_AlignmentFontAndEdgeReachTheDrawnPanelAtOnce)
{
    m_settings.setFontSize(40);
    LiveCaptionOverlayController controller(&m_defaults);
    controller.update(finalAndVolatile());
    controller.setVisible(true);
    LiveCaptionOverlayView* view = controller.panel()->view();
    const double width = view->width();

    EXPECT_NEAR(view->boxRect().center().x(), width / 2, 1.0) << "centred by default";
    m_settings.setAlignment(LiveCaptionAlignment::left);
    EXPECT_NEAR(view->boxRect().left(), LiveCaptionOverlayView::outerPadding, 1.0);
    m_settings.setAlignment(LiveCaptionAlignment::right);
    EXPECT_NEAR(view->boxRect().right(), width - LiveCaptionOverlayView::outerPadding, 1.0);
    // Each line keeps to that side too: the final line's letters lie at the right end of its row.
    const QImage aligned = test::renderedOver(*view, Qt::black);
    const QRect row = view->lineRect(0).toAlignedRect();
    const QRect leftQuarter(row.left(), row.top(), row.width() / 4, row.height());
    const QRect rightQuarter(row.right() - row.width() / 4, row.top(), row.width() / 4, row.height());
    EXPECT_EQ(test::pixelsNear(aligned, leftQuarter, Qt::white), 0);
    EXPECT_GT(test::pixelsNear(aligned, rightQuarter, Qt::white), 100);

    m_settings.setFontFamily(QStringLiteral("Noto Serif CJK JP"));
    EXPECT_EQ(view->captionFont().family(), QStringLiteral("Noto Serif CJK JP"));
    m_settings.setFontFamily({});
    EXPECT_EQ(view->captionFont().family(), view->font().family()) << "empty: the desktop's font";

    // White letters without a box over a white picture: only an edge makes them out.
    m_settings.applyPreset(LiveCaptionPreset::noBackground);
    const QRect finalLine = view->lineRect(0).toAlignedRect();
    const auto darkPixels = [&] {
        return test::pixelsNear(test::renderedOver(*view, Qt::white), finalLine, Qt::black, 40);
    };
    const int outlined = darkPixels();
    m_settings.setTextEdge(LiveCaptionTextEdge::none);
    EXPECT_EQ(darkPixels(), 0);
    m_settings.setTextEdge(LiveCaptionTextEdge::shadow);
    const int shadowed = darkPixels();
    EXPECT_GT(outlined, 100);
    EXPECT_GT(shadowed, 100);
    EXPECT_TRUE(m_settings.isPresetChanged());
}

TEST_F(LiveCaptionStyleTest, PanelSize_FollowsTheChosenWidthAndGrowsForMoreLinesKeepingItsBottomEdge)
{
    LiveCaptionOverlayController controller(&m_defaults);
    controller.setVisible(true);
    auto* panel = controller.panel();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel->size(), LiveCaptionOverlayController::defaultSize);
    const QRect before = panel->geometry();

    m_settings.setWidthPercent(80);
    EXPECT_EQ(panel->width(), qRound(area.width() * 0.8));
    EXPECT_NEAR(panel->geometry().center().x(), before.center().x(), 1);
    m_settings.setWidthPercent(5);
    EXPECT_EQ(panel->width(), qRound(area.width() * 0.2)) << "kept within 20 % to 100 %";

    m_settings.setFontSize(48);
    m_settings.setLines(5);
    EXPECT_GE(panel->height(), 5 * QFontMetrics(panel->view()->captionFont()).height());
    EXPECT_EQ(panel->geometry().bottom(), before.bottom()) << "grows upwards";
    EXPECT_EQ(m_defaults.value(LiveCaptionOverlayController::frameAutosaveName).toRect(), panel->geometry());

    m_settings.clearWidthPercent();
    m_settings.setLines(2);
    m_settings.setFontSize(28);
    EXPECT_EQ(panel->size(), LiveCaptionOverlayController::defaultSize);
}

// The idle time runs on a clock the test moves and a wake-up it delivers itself.
TEST_F(LiveCaptionStyleTest, AutoHide_HidesAfterTheChosenIdleTimeAndComesBackWithTheNextVolatileText)
{
    using Clock = LiveCaptionIdleHider::Clock;
    Clock::time_point now{};
    std::vector<std::optional<Clock::duration>> wakeUps;
    LiveCaptionOverlayController controller(
        &m_defaults, nullptr, {[&] { return now; }, [&](std::optional<Clock::duration> d) { wakeUps.push_back(d); }});
    const auto captionWith = [](std::string volatileText) {
        return LiveCaptionContent{{{0, "本日の議題は三つです", false}, {1, std::move(volatileText), true}}};
    };
    controller.update(captionWith("まず"));
    controller.setVisible(true);
    LiveCaptionOverlayView* view = controller.panel()->view();

    now += 600s;
    controller.idleWakeUpDue();
    EXPECT_FALSE(controller.isIdleHidden()) << "off unless the user turns it on";
    EXPECT_TRUE(wakeUps.empty());

    m_settings.setAutoHide(true);
    ASSERT_FALSE(wakeUps.empty());
    EXPECT_EQ(wakeUps.back(), Clock::duration(5s)) << "turned on, the caption stays for the chosen time";
    m_settings.setAutoHideSeconds(4);
    EXPECT_EQ(wakeUps.back(), Clock::duration(4s));

    now += 3s;
    controller.update(captionWith("まず予算"));
    EXPECT_EQ(wakeUps.back(), Clock::duration(4s)) << "new text starts the time again";
    now += 2s;
    controller.idleWakeUpDue();
    EXPECT_FALSE(controller.isIdleHidden()) << "woken early, it waits for the rest";
    EXPECT_EQ(wakeUps.back(), Clock::duration(2s));

    now += 2s;
    controller.idleWakeUpDue();
    EXPECT_TRUE(controller.isIdleHidden());
    EXPECT_TRUE(controller.model()->content().isEmpty());
    EXPECT_TRUE(view->hitRect().isEmpty()) << "nothing to click while hidden";
    EXPECT_TRUE(controller.panel()->isVisible()) << "the window stays; only the caption fades";
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return test::pixelsNear(test::renderedOver(*view, Qt::white), view->rect(), Qt::white, 0) ==
               view->width() * view->height();
    })) << "faded out completely";

    controller.update(captionWith("まず予算"));
    EXPECT_TRUE(controller.isIdleHidden()) << "the same text again is nothing new";
    now += 60s;
    controller.update(captionWith("まず予算の"));
    EXPECT_FALSE(controller.isIdleHidden());
    EXPECT_EQ(controller.model()->content(), captionWith("まず予算の"));

    now += 4s;
    controller.idleWakeUpDue();
    ASSERT_TRUE(controller.isIdleHidden());
    m_settings.setAutoHide(false);
    EXPECT_FALSE(controller.isIdleHidden()) << "turning it off brings the caption back";
    EXPECT_EQ(wakeUps.back(), std::nullopt);
    EXPECT_FALSE(controller.model()->content().isEmpty());

    // On the app's own timer: gone after the chosen second.
    LiveCaptionOverlayController timed(&m_defaults, nullptr);
    timed.update(captionWith("まず"));
    timed.setVisible(true);
    m_settings.setAutoHideSeconds(1);
    m_settings.setAutoHide(true);
    EXPECT_FALSE(timed.isIdleHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return timed.isIdleHidden(); }, 5000));
}

} // namespace
} // namespace tc
