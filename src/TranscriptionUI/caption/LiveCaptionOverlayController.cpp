#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"

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
        if (LiveCaptionStyleSettings::isCaptionStyleKey(key)) applyStyle();
    });
}

LiveCaptionOverlayController::~LiveCaptionOverlayController()
{
    delete m_panel;
}

void LiveCaptionOverlayController::setVisible(bool visible)
{
    if (!visible) {
        if (m_panel) m_panel->hide();
        return;
    }
    if (!m_panel) makePanel();
    m_panel->show();
    m_panel->raise();
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
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!m_panel || !screen) {
        m_defaults->remove(frameAutosaveName);
        return;
    }
    m_panel->setGeometry(defaultFrame(screen->availableGeometry(), panelSize(screen->availableGeometry())));
    m_panel->saveFrame();
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
    if (!m_panel) return;
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

void LiveCaptionOverlayController::makePanel()
{
    m_panel = new LiveCaptionOverlayPanel(m_model, m_defaults, frameAutosaveName, defaultSize);
    if (const auto saved = m_panel->savedFrame()) {
        m_panel->setGeometry(*saved);
        // The frame the user left keeps its size unless a chosen width asks for another or the lines do not fit.
        const int rows = static_cast<int>(m_model->style().maxLines);
        if (m_settings.widthPercent() || saved->height() < m_panel->view()->heightForRows(rows, saved->width()))
            applyPanelSize();
        return;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    m_panel->setGeometry(defaultFrame(screen->availableGeometry(), panelSize(screen->availableGeometry())));
    m_panel->saveFrame();
}

} // namespace tc
