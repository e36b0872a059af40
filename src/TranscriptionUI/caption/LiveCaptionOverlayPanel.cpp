#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/caption/X11WindowHints.h"
#include "TranscriptionUI/caption/XcbOverlayStacking.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QRegion>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace tc {

namespace {

using Controller = LiveCaptionOverlayController;

constexpr int menuButtonSize = 24;

Qt::WindowFlags flagsFor(LiveCaptionOverlayPanel::WindowKind kind)
{
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint;
    if (kind == LiveCaptionOverlayPanel::WindowKind::overlay) flags |= Qt::X11BypassWindowManagerHint;
    return flags;
}

} // namespace

LiveCaptionOverlayPanel::WindowKind LiveCaptionOverlayPanel::preferredKind()
{
    if (qEnvironmentVariableIntValue("TC_CAPTION_MANAGED_WINDOW") == 1) return WindowKind::managed;
    return XcbOverlayStacking::isAvailable() ? WindowKind::overlay : WindowKind::managed;
}

LiveCaptionOverlayPanel::LiveCaptionOverlayPanel(LiveCaptionOverlayModel* model, PreferencesStore* defaults,
                                                 QString frameAutosaveName, QSize size, WindowKind kind)
    : QWidget(nullptr, flagsFor(kind)), m_kind(kind), m_view(new LiveCaptionOverlayView(model, this)),
      m_defaults(defaults), m_frameAutosaveName(std::move(frameAutosaveName))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    // Closing the main window ends the application even while the captions are up.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("ライブ字幕"));
    setObjectName(QStringLiteral("liveCaptionPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    resize(size);

    m_menuButton = new QToolButton(this);
    m_menuButton->setObjectName(QStringLiteral("captionMenuButton"));
    m_menuButton->setText(QStringLiteral("≡"));
    m_menuButton->setToolTip(QStringLiteral("字幕パネルのメニュー（クリックの透過を切る）"));
    m_menuButton->setFocusPolicy(Qt::NoFocus);
    m_menuButton->setFixedSize(menuButtonSize, menuButtonSize);
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton { color: white; background: rgba(0, 0, 0, 160); "
                                               "border: 1px solid rgba(255, 255, 255, 120); border-radius: 12px; }"));
    m_menuButton->hide();
    buildMenu();
    connect(m_menuButton, &QToolButton::clicked, this,
            [this] { m_menu->popup(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height()))); });
    connect(m_view, &LiveCaptionOverlayView::hitRectChanged, this, &LiveCaptionOverlayPanel::updateInputShape);

    if (m_kind == WindowKind::overlay) {
        // The native window exists from here on, so the stacking can name it.
        winId();
        m_stacking = new XcbOverlayStacking(windowHandle(), this);
    }
}

LiveCaptionOverlayPanel::~LiveCaptionOverlayPanel() = default;

std::optional<QRect> LiveCaptionOverlayPanel::savedFrame() const
{
    const QVariant stored = m_defaults->value(m_frameAutosaveName);
    if (!stored.canConvert<QRect>()) return std::nullopt;
    const QRect frame = stored.toRect();
    if (!frame.isValid()) return std::nullopt;
    // A frame left on a screen that is gone would put the captions out of reach.
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(frame)) return frame;
    return std::nullopt;
}

void LiveCaptionOverlayPanel::saveFrame()
{
    m_defaults->setValue(m_frameAutosaveName, geometry());
}

void LiveCaptionOverlayPanel::setDocked(bool docked)
{
    m_docked = docked;
    m_dragOffset.reset();
}

void LiveCaptionOverlayPanel::setClickThrough(bool clickThrough)
{
    if (clickThrough == m_clickThrough) return;
    m_clickThrough = clickThrough;
    if (!XcbOverlayStacking::isAvailable() && windowHandle())
        windowHandle()->setFlag(Qt::WindowTransparentForInput, clickThrough);
    showMenuState();
    updateInputShape();
}

void LiveCaptionOverlayPanel::buildMenu()
{
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("captionPanelMenu"));
    m_clickThroughAction = m_menu->addAction(QStringLiteral("クリックを透過"));
    m_clickThroughAction->setCheckable(true);
    connect(m_clickThroughAction, &QAction::triggered, this,
            [this](bool on) { m_defaults->setBool(Controller::clickThroughDefaultsKey, on); });
    m_menu->addSeparator();
    m_placementActions = new QActionGroup(this);
    const std::pair<Controller::Placement, QString> placements[] = {
        {Controller::Placement::floating, QStringLiteral("自由に配置")},
        {Controller::Placement::top, QStringLiteral("画面の上端に固定")},
        {Controller::Placement::bottom, QStringLiteral("画面の下端に固定")},
    };
    for (const auto& [placement, title] : placements) {
        QAction* action = m_menu->addAction(title);
        action->setCheckable(true);
        action->setData(Controller::placementName(placement));
        m_placementActions->addAction(action);
        connect(action, &QAction::triggered, this, [this, name = action->data().toString()] {
            m_defaults->setValue(Controller::placementDefaultsKey, name);
        });
    }
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("ライブ字幕を隠す")), &QAction::triggered, this,
            [this] { m_defaults->setBool(Controller::visibilityDefaultsKey, false); });
    connect(m_menu, &QMenu::aboutToShow, this, &LiveCaptionOverlayPanel::showMenuState);
}

void LiveCaptionOverlayPanel::showMenuState()
{
    m_clickThroughAction->setChecked(m_clickThrough);
    const QString placement = Controller::placementName(
        Controller::placementOf(m_defaults->value(Controller::placementDefaultsKey).toString()));
    for (QAction* action : m_placementActions->actions())
        action->setChecked(action->data().toString() == placement);
}

void LiveCaptionOverlayPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_docked) return;
    // A managed window is moved by the window manager when it can; otherwise it follows the pointer here.
    if (m_kind == WindowKind::managed && windowHandle() && windowHandle()->startSystemMove()) return;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void LiveCaptionOverlayPanel::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragOffset) move(event->globalPosition().toPoint() - *m_dragOffset);
}

void LiveCaptionOverlayPanel::mouseReleaseEvent(QMouseEvent*)
{
    if (!m_dragOffset) return;
    m_dragOffset.reset();
    saveFrame();
}

void LiveCaptionOverlayPanel::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (isVisible() && !m_docked) saveFrame();
}

void LiveCaptionOverlayPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_kind == WindowKind::managed) X11WindowHints::showOnAllWorkspaces(windowHandle());
    if (m_stacking) m_stacking->setActive(true);
    updateInputShape();
}

void LiveCaptionOverlayPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_stacking) m_stacking->setActive(false);
}

void LiveCaptionOverlayPanel::contextMenuEvent(QContextMenuEvent* event)
{
    m_menu->popup(event->globalPos());
}

void LiveCaptionOverlayPanel::updateInputShape()
{
    const QRectF box = m_view->boxRect().translated(m_view->pos());
    const bool hasCaption = !m_view->hitRect().isEmpty();
    m_menuButton->setVisible(m_clickThrough && hasCaption);
    if (m_menuButton->isVisible()) {
        m_menuButton->move(box.topLeft().toPoint() + QPoint(4, 4));
        m_menuButton->raise();
    }
    // Only the caption and its margin take the pointer; the clear rest of the panel lets clicks through.
    // Without a compositor the clear parts would be drawn black, so the window is cut to the drawn shapes.
    QRegion shape =
        X11WindowHints::hasCompositingManager() ? QRegion(m_view->hitRect().toAlignedRect()) : m_view->drawnRegion();
    shape.translate(m_view->pos());
    if (m_menuButton->isVisible()) shape += m_menuButton->geometry();
    setMask(shape.isEmpty() ? QRegion(0, 0, 1, 1) : shape);
    if (!XcbOverlayStacking::isAvailable() || !windowHandle()) return;
    if (m_clickThrough)
        XcbOverlayStacking::setInputRegion(windowHandle(),
                                           m_menuButton->isVisible() ? QRegion(m_menuButton->geometry()) : QRegion());
    else
        XcbOverlayStacking::resetInputRegion(windowHandle());
}

} // namespace tc
