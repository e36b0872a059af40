#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/UpdaterCommands.h"
#include "TranscriptionUI/caption/LiveCaptionCommands.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"

#include "TranscriptionApplication/UpdaterPort.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

namespace tc {
namespace {

LiveCaptionContent twoLines()
{
    return LiveCaptionContent{{{0, "こんにちは", false}, {1, "今日は", true}}};
}

class LiveCaptionOverlay : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }

    test::TemporaryDirectory m_dir;
    PreferencesStore m_defaults{QString::fromStdString((m_dir.path() / "settings.ini").string())};
};

TEST_F(LiveCaptionOverlay, FirstShowPlacesTheDefaultFrameWithoutFocusAndLaterRunsRestoreTheSavedOne)
{
    LiveCaptionOverlayController controller(&m_defaults);
    controller.setVisible(false);
    EXPECT_EQ(controller.panel(), nullptr) << "hiding before any show creates nothing";

    controller.setVisible(true);
    ASSERT_NE(controller.panel(), nullptr);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = controller.panel()->geometry();
    EXPECT_EQ(frame.size(), LiveCaptionOverlayController::defaultSize);
    EXPECT_NEAR(frame.center().x(), area.center().x(), 1);
    EXPECT_NEAR(area.bottom() + 1 - (frame.bottom() + 1), 0.12 * area.height(), 1.0);
    EXPECT_TRUE(controller.panel()->isVisible());
    // Shown on top of other windows without ever taking the keyboard from them.
    EXPECT_TRUE(controller.panel()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(controller.panel()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_NE(QGuiApplication::focusWindow(), controller.panel()->windowHandle());

    auto* panel = controller.panel();
    controller.setVisible(false);
    EXPECT_FALSE(panel->isVisible());
    controller.setVisible(true);
    EXPECT_EQ(controller.panel(), panel) << "the same panel comes back";

    // A moved frame is restored in a later run, unless it lies on a screen that is gone.
    const QRect moved(area.left() + 10, area.top() + 20, 600, 150);
    controller.panel()->setGeometry(moved);
    controller.panel()->saveFrame();
    {
        LiveCaptionOverlayController later(&m_defaults);
        later.setVisible(true);
        EXPECT_EQ(later.panel()->geometry(), moved);
    }
    m_defaults.setValue(LiveCaptionOverlayController::frameAutosaveName, QRect(-50000, -50000, 720, 180));
    LiveCaptionOverlayController offScreen(&m_defaults);
    offScreen.setVisible(true);
    EXPECT_TRUE(area.intersects(offScreen.panel()->geometry()));
}

TEST_F(LiveCaptionOverlay, MenuItemWithItsShortcutAndTheCloseButtonFlipTheSharedSetting)
{
    LiveCaptionOverlayController controller(&m_defaults);
    LiveCaptionCommands commands(&m_defaults);
    QObject::connect(&m_defaults, &PreferencesStore::valueChanged, &controller, [&](const QString& key) {
        if (key == LiveCaptionOverlayController::visibilityDefaultsKey)
            controller.setVisible(m_defaults.boolValue(key));
    });
    QMenuBar bar;
    QMenu* menu = commands.install(&bar);
    ASSERT_EQ(menu->actions().size(), 2);
    QAction* item = menu->actions().front();
    EXPECT_FALSE(item->isChecked()) << "first launch: off";
    EXPECT_EQ(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+L")));
    item->trigger();
    item->trigger();
    EXPECT_FALSE(m_defaults.boolValue(LiveCaptionOverlayController::visibilityDefaultsKey, true));
    item->trigger();
    EXPECT_TRUE(m_defaults.boolValue(LiveCaptionOverlayController::visibilityDefaultsKey));
    ASSERT_NE(controller.panel(), nullptr);
    controller.update(twoLines());

    // The close button shows only under the pointer.
    LiveCaptionOverlayView* view = controller.panel()->view();
    view->resize(720, 180);
    EXPECT_FALSE(view->isCloseButtonShown());
    const QPointF inside = view->boxRect().center();
    QMouseEvent move(QEvent::MouseMove, inside, view->mapToGlobal(inside), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    ASSERT_TRUE(view->isCloseButtonShown());
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, view->closeButtonRect().center().toPoint());
    EXPECT_FALSE(m_defaults.boolValue(LiveCaptionOverlayController::visibilityDefaultsKey, true));
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(controller.panel()->isVisible());
}

TEST_F(LiveCaptionOverlay, VolatileLineIsFaintLongLinesWrapAndEmptyContentHasNoCloseButton)
{
    LiveCaptionOverlayModel model(twoLines());
    LiveCaptionOverlayView view(&model);
    EXPECT_FLOAT_EQ(view.lineColor(0).alphaF(), 1.0f);
    EXPECT_NEAR(view.lineColor(1).alphaF(), 0.5, 1.0 / 255.0);
    EXPECT_EQ(view.lineColor(1).rgb(), QColor(Qt::white).rgb());
    int changes = 0;
    QObject::connect(&model, &LiveCaptionOverlayModel::contentChanged, [&] { ++changes; });
    model.setContent(twoLines());
    EXPECT_EQ(changes, 0) << "equal content is not redrawn";

    // A long line wraps inside the box instead of being cut off.
    model.setContent(LiveCaptionContent{
        {{0, std::string(30, 'x') + "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめも", false}}});
    view.resize(400, 180);
    EXPECT_LE(view.boxRect().width(), 400 - 2 * LiveCaptionOverlayView::outerPadding + 0.5);
    EXPECT_GT(view.boxRect().height(), 2.0 * view.captionFont().pixelSize());

    const QPointF inside = view.boxRect().center();
    QMouseEvent move(QEvent::MouseMove, inside, inside, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &move);
    EXPECT_TRUE(view.isCloseButtonShown());
    model.setContent(LiveCaptionContent::empty());
    EXPECT_FALSE(view.isCloseButtonShown());
    EXPECT_TRUE(view.hitRect().isEmpty());
}

TEST_F(LiveCaptionOverlay, ClickThroughIsTurnedOffFromTheCaptionMenuItsShortcutAndThePanelsOwnMenu)
{
    LiveCaptionOverlayController controller(&m_defaults);
    LiveCaptionCommands commands(&m_defaults);
    QMenuBar bar;
    commands.install(&bar);
    controller.setVisible(true);
    controller.update(twoLines());
    LiveCaptionOverlayPanel* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isClickThrough()) << "clicks reach the panel unless the user asks otherwise";

    QAction* clickThrough = commands.clickThroughAction();
    EXPECT_EQ(clickThrough->text(), QStringLiteral("クリックを透過"));
    EXPECT_EQ(clickThrough->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+T")));
    clickThrough->trigger();
    EXPECT_TRUE(m_defaults.boolValue(LiveCaptionOverlayController::clickThroughDefaultsKey));
    EXPECT_TRUE(panel->isClickThrough()) << "the panel follows at once";
    EXPECT_TRUE(panel->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
    // The panel's menu stays reachable from a button while clicks pass through the rest.
    EXPECT_TRUE(panel->menuButton()->isVisibleTo(panel));

    QAction* panelItem = nullptr;
    for (QAction* action : panel->menu()->actions())
        if (action->text() == QStringLiteral("クリックを透過")) panelItem = action;
    ASSERT_NE(panelItem, nullptr);
    Q_EMIT panel->menu()->aboutToShow();
    EXPECT_TRUE(panelItem->isChecked());
    panelItem->trigger();
    EXPECT_FALSE(m_defaults.boolValue(LiveCaptionOverlayController::clickThroughDefaultsKey, true));
    EXPECT_FALSE(panel->isClickThrough());
    EXPECT_FALSE(panel->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_FALSE(clickThrough->isChecked()) << "the caption menu shows the panel's change";
    EXPECT_FALSE(panel->menuButton()->isVisibleTo(panel));
}

TEST_F(LiveCaptionOverlay, DockedPanelSpansItsEdgeIsNotDraggedAndFloatingAgainReturnsToTheSavedFrame)
{
    const QRect screen(0, 0, 1280, 800);
    using Placement = LiveCaptionOverlayController::Placement;
    EXPECT_EQ(LiveCaptionOverlayController::dockedFrame(screen, Placement::top, 180), QRect(0, 0, 1280, 180));
    EXPECT_EQ(LiveCaptionOverlayController::dockedFrame(QRect(1280, 0, 1920, 1080), Placement::bottom, 180),
              QRect(1280, 900, 1920, 180));
    EXPECT_EQ(LiveCaptionOverlayController::placementOf(QStringLiteral("top")), Placement::top);
    EXPECT_EQ(LiveCaptionOverlayController::placementOf(QStringLiteral("左")), Placement::floating);

    LiveCaptionOverlayController controller(&m_defaults);
    controller.setVisible(true);
    LiveCaptionOverlayPanel* panel = controller.panel();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect moved(area.left() + 30, area.top() + 40, 720, 180);
    panel->setGeometry(moved);
    panel->saveFrame();

    m_defaults.setValue(LiveCaptionOverlayController::placementDefaultsKey, QStringLiteral("bottom"));
    const QRect whole = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(panel->geometry(), QRect(whole.left(), whole.bottom() + 1 - 180, whole.width(), 180));
    EXPECT_TRUE(panel->isDocked());
    // Dragging a docked panel leaves it where it is, and its frame is not remembered.
    QTest::mousePress(panel, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QTest::mouseMove(panel, QPoint(120, 20));
    QTest::mouseRelease(panel, Qt::LeftButton, Qt::NoModifier, QPoint(120, 20));
    EXPECT_EQ(panel->geometry().topLeft(), QPoint(whole.left(), whole.bottom() + 1 - 180));
    EXPECT_EQ(m_defaults.value(LiveCaptionOverlayController::frameAutosaveName).toRect(), moved);

    m_defaults.setValue(LiveCaptionOverlayController::placementDefaultsKey, QStringLiteral("floating"));
    EXPECT_FALSE(panel->isDocked());
    EXPECT_EQ(panel->geometry(), moved) << "floating again puts it back where it was dragged";

    // A screen name that is not there means the primary screen; choosing it again keeps the dragged frame.
    m_defaults.setValue(LiveCaptionOverlayController::screenDefaultsKey, QStringLiteral("no-such-screen"));
    EXPECT_EQ(controller.chosenScreen(), QGuiApplication::primaryScreen());
    EXPECT_EQ(panel->geometry(), moved);
}

struct RecordingUpdater : UpdaterPort {
    void checkForUpdates(bool userInitiated) override { checks.push_back(userInitiated); }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool enabled) override { automatic = enabled; }
    std::vector<bool> checks;
    bool automatic = true;
};

TEST_F(LiveCaptionOverlay, UpdateItemAlwaysAsksForAUserCheckAndStaysShownWithoutAnUpdater)
{
    QMenu help;
    QAction* about = help.addAction(QStringLiteral("について"));
    RecordingUpdater updater;
    UpdaterCommands commands(&updater);
    commands.install(&help, about);
    EXPECT_TRUE(commands.checkAction()->isEnabled());
    commands.checkAction()->trigger();
    EXPECT_EQ(updater.checks, std::vector<bool>{true});

    UpdaterCommands none(nullptr);
    none.install(&help, about);
    EXPECT_TRUE(help.actions().contains(none.checkAction()));
    EXPECT_FALSE(none.checkAction()->isEnabled());
}

} // namespace
} // namespace tc
