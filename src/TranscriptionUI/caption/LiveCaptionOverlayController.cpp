#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace tc {

LiveCaptionOverlayController::LiveCaptionOverlayController(PreferencesStore* defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_model(new LiveCaptionOverlayModel({}, {}, this))
{
    m_model->onClose = [defaults] { defaults->setBool(visibilityDefaultsKey, false); };
    applyFontSize();
    connect(defaults, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == fontSizeDefaultsKey) applyFontSize();
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
    m_model->setContent(content);
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

void LiveCaptionOverlayController::applyFontSize()
{
    LiveCaptionStyle style = m_model->style();
    const LiveCaptionStyle fitted = LiveCaptionStyle::defaultStyle();
    bool ok = false;
    const int chosen = m_defaults->value(fontSizeDefaultsKey).toInt(&ok);
    if (ok && chosen > 0) {
        // A chosen size pins the fitted range, so the panel's width no longer changes it.
        style.fontSize = chosen;
        style.minFontSize = chosen;
        style.maxFontSize = chosen;
    } else {
        style.fontSize = fitted.fontSize;
        style.minFontSize = fitted.minFontSize;
        style.maxFontSize = fitted.maxFontSize;
    }
    m_model->setStyle(style);
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
