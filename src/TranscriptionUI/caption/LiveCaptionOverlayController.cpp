#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/caption/XcbStrutWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace tc {

LiveCaptionOverlayController::LiveCaptionOverlayController(PreferencesStore* defaults, QObject* parent,
                                                           LiveCaptionIdleHider::Timing idleTiming)
    : QObject(parent), m_defaults(defaults), m_settings(defaults), m_model(new LiveCaptionOverlayModel({}, {}, this)),
      m_idle(new LiveCaptionIdleHider(std::move(idleTiming), this))
{
    m_model->onClose = [defaults] { defaults->setBool(visibilityDefaultsKey, false); };
    connect(m_idle, &LiveCaptionIdleHider::hiddenChanged, this, &LiveCaptionOverlayController::showContent);
    applyStyle();
    connect(defaults, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (LiveCaptionStyleSettings::isCaptionStyleKey(key))
            applyStyle();
        else if (key == placementDefaultsKey)
            applyPlacement();
        else if (key == screenDefaultsKey)
            applyPlacement(true);
        else if (key == clickThroughDefaultsKey)
            applyClickThrough();
    });
    // A docked panel follows its screen's size; one whose screen is unplugged moves to the primary screen.
    const auto follow = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, [this] {
            if (placement() != Placement::floating) applyPlacement();
        });
    };
    for (QScreen* screen : QGuiApplication::screens())
        follow(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, follow](QScreen* screen) {
        follow(screen);
        applyPlacement();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { applyPlacement(); });
}

LiveCaptionOverlayController::~LiveCaptionOverlayController()
{
    m_strut.reset();
    delete m_panel;
}

void LiveCaptionOverlayController::setVisible(bool visible)
{
    if (!visible) {
        if (m_panel) m_panel->hide();
        // Hidden captions keep no strip from other windows.
        if (m_strut) m_strut->release();
        return;
    }
    if (!m_panel) makePanel();
    m_panel->show();
    m_panel->raise();
    applyPlacement();
}

void LiveCaptionOverlayController::update(const LiveCaptionContent& content)
{
    if (content == m_latest) return;
    m_latest = content;
    if (!content.isEmpty()) m_idle->textArrived();
    showContent();
}

void LiveCaptionOverlayController::showContent()
{
    m_model->setContent(m_idle->isHidden() ? LiveCaptionContent::empty() : m_latest);
}

void LiveCaptionOverlayController::resetFrame()
{
    const QScreen* screen = chosenScreen();
    if (!m_panel || !screen) {
        m_defaults->remove(frameAutosaveName);
        return;
    }
    if (placement() != Placement::floating) {
        // The floating frame comes back at the default the next time the panel floats.
        m_defaults->remove(frameAutosaveName);
        return;
    }
    m_panel->setGeometry(defaultFrame(screen->availableGeometry(), panelSize(screen->availableGeometry())));
    m_panel->saveFrame();
}

LiveCaptionOverlayController::Placement LiveCaptionOverlayController::placementOf(const QString& stored)
{
    if (stored == QStringLiteral("top")) return Placement::top;
    if (stored == QStringLiteral("bottom")) return Placement::bottom;
    return Placement::floating;
}

QString LiveCaptionOverlayController::placementName(Placement placement)
{
    switch (placement) {
    case Placement::top: return QStringLiteral("top");
    case Placement::bottom: return QStringLiteral("bottom");
    case Placement::floating: break;
    }
    return QStringLiteral("floating");
}

LiveCaptionOverlayController::Placement LiveCaptionOverlayController::placement() const
{
    return placementOf(m_defaults->value(placementDefaultsKey).toString());
}

QScreen* LiveCaptionOverlayController::chosenScreen() const
{
    const QString name = m_defaults->value(screenDefaultsKey).toString();
    if (!name.isEmpty())
        for (QScreen* screen : QGuiApplication::screens())
            if (screen->name() == name) return screen;
    return QGuiApplication::primaryScreen();
}

bool LiveCaptionOverlayController::isReservingStrip() const
{
    return m_strut && m_strut->isReserving();
}

void LiveCaptionOverlayController::applyStyle()
{
    m_model->setStyle(m_settings.style());
    const auto idle = m_settings.autoHideAfterSeconds();
    m_idle->setHideAfter(idle ? std::optional<LiveCaptionIdleHider::Clock::duration>(std::chrono::seconds(*idle))
                              : std::nullopt);
    applyPanelSize();
}

// --- Panel size ---

QSize LiveCaptionOverlayController::panelSize(const QRect& availableGeometry) const
{
    const auto percent = m_settings.widthPercent();
    const int width =
        percent ? static_cast<int>(std::lround(availableGeometry.width() * *percent / 100.0)) : defaultSize.width();
    if (!m_panel) return {width, defaultSize.height()};
    const int rows = static_cast<int>(m_model->style().maxLines);
    const int height = std::min(std::max(defaultSize.height(), m_panel->view()->heightForRows(rows, width)),
                                std::max(defaultSize.height(), availableGeometry.height()));
    return {width, height};
}

void LiveCaptionOverlayController::applyPanelSize()
{
    // A docked panel spans its edge: applyPlacement sizes it.
    if (!m_panel || placement() != Placement::floating) return;
    const QScreen* screen = m_panel->screen() ? m_panel->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize size = panelSize(area);
    const QRect current = m_panel->geometry();
    if (current.size() == size) return;
    QRect frame(0, 0, size.width(), size.height());
    frame.moveCenter(current.center());
    frame.moveBottom(current.bottom());
    // Grown past the screen's edges, it is pushed back inside.
    frame.moveLeft(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width())));
    frame.moveTop(std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height())));
    m_panel->setGeometry(frame);
    m_panel->saveFrame();
}

QRect LiveCaptionOverlayController::defaultFrame(const QRect& availableGeometry, QSize size)
{
    const QRectF area(availableGeometry);
    const double x = area.center().x() - size.width() * 0.5;
    // 12 % of the area's height between the area's bottom edge and the panel's bottom edge.
    const double bottom = area.top() + area.height() - 0.12 * area.height();
    return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(bottom - size.height())), size.width(),
            size.height()};
}

QRect LiveCaptionOverlayController::dockedFrame(const QRect& screenGeometry, Placement placement, int height)
{
    switch (placement) {
    case Placement::top: return {screenGeometry.x(), screenGeometry.y(), screenGeometry.width(), height};
    case Placement::bottom:
        return {screenGeometry.x(), screenGeometry.y() + screenGeometry.height() - height, screenGeometry.width(),
                height};
    case Placement::floating: break;
    }
    return screenGeometry;
}

void LiveCaptionOverlayController::makePanel()
{
    m_panel = new LiveCaptionOverlayPanel(m_model, m_defaults, frameAutosaveName, defaultSize);
    applyClickThrough();
    if (placement() != Placement::floating) return;
    if (const auto saved = m_panel->savedFrame()) {
        m_panel->setGeometry(*saved);
        // The frame the user left keeps its size unless a chosen width asks for another or the lines do not fit.
        const int rows = static_cast<int>(m_model->style().maxLines);
        if (m_settings.widthPercent() || saved->height() < m_panel->view()->heightForRows(rows, saved->width()))
            applyPanelSize();
        return;
    }
    const QScreen* screen = chosenScreen();
    if (!screen) return;
    m_panel->setGeometry(defaultFrame(screen->availableGeometry(), panelSize(screen->availableGeometry())));
    m_panel->saveFrame();
}

void LiveCaptionOverlayController::applyPlacement(bool screenChanged)
{
    if (!m_panel) return;
    QScreen* screen = chosenScreen();
    const Placement where = placement();
    if (where == Placement::floating || !screen) {
        if (m_strut) m_strut->release();
        const bool wasDocked = m_panel->isDocked();
        m_panel->setDocked(false);
        const auto saved = m_panel->savedFrame();
        const bool onChosenScreen = saved && screen && screen->geometry().intersects(*saved);
        // A panel dragged onto another screen stays there until a screen is chosen.
        if (saved && (onChosenScreen || !screenChanged)) {
            if (wasDocked) m_panel->setGeometry(*saved);
        } else if (screen) {
            m_panel->setGeometry(defaultFrame(screen->availableGeometry(), defaultSize));
            m_panel->saveFrame();
        }
        return;
    }
    m_panel->setDocked(true);
    // The screen's whole edge, not its free area: that shrinks by the strip the panel itself reserves.
    const QRect frame = dockedFrame(screen->geometry(), where, defaultSize.height());
    m_panel->setGeometry(frame);
    if (!m_panel->isVisible()) return;
    if (!m_strut) m_strut = XcbStrutWindow::create();
    if (!m_strut) return;
    const double ratio = screen->devicePixelRatio();
    const QRect native(QPoint(qRound(frame.x() * ratio), qRound(frame.y() * ratio)),
                       QSize(qRound(frame.width() * ratio), qRound(frame.height() * ratio)));
    m_strut->reserve(where == Placement::top ? XcbStrutWindow::Edge::top : XcbStrutWindow::Edge::bottom, native);
}

void LiveCaptionOverlayController::applyClickThrough()
{
    if (m_panel) m_panel->setClickThrough(m_defaults->boolValue(clickThroughDefaultsKey, false));
}

} // namespace tc
