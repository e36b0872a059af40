#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"

#include <QGuiApplication>
#include <QScreen>
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
    m_panel->setGeometry(defaultFrame(screen->availableGeometry(), defaultSize));
    m_panel->saveFrame();
}

void LiveCaptionOverlayController::applyStyle()
{
    m_model->setStyle(m_settings.style());
    const auto idle = m_settings.autoHideAfterSeconds();
    m_idle->setHideAfter(idle ? std::optional<LiveCaptionIdleHider::Clock::duration>(std::chrono::seconds(*idle))
                              : std::nullopt);
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
        return;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    m_panel->setGeometry(defaultFrame(screen->availableGeometry(), defaultSize));
    m_panel->saveFrame();
}

} // namespace tc
