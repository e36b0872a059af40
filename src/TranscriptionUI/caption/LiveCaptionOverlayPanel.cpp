#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/caption/X11WindowHints.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace tc {

LiveCaptionOverlayPanel::LiveCaptionOverlayPanel(LiveCaptionOverlayModel* model, PreferencesStore* defaults,
                                                 QString frameAutosaveName, QSize size)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint),
      m_view(new LiveCaptionOverlayView(model, this)), m_defaults(defaults),
      m_frameAutosaveName(std::move(frameAutosaveName))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    // Closing the main window ends the application even while the captions are up.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("ライブ字幕"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    resize(size);
    connect(m_view, &LiveCaptionOverlayView::hitRectChanged, this, &LiveCaptionOverlayPanel::updateInputShape);
}

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

void LiveCaptionOverlayPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    // The window manager moves the window when it can; otherwise it follows the pointer here.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
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
    if (isVisible()) saveFrame();
}

void LiveCaptionOverlayPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    X11WindowHints::showOnAllWorkspaces(windowHandle());
    updateInputShape();
}

void LiveCaptionOverlayPanel::updateInputShape()
{
    // Only the caption and its margin take the pointer; the clear rest of the panel lets clicks through.
    // Without a compositor the clear parts would be drawn black, so the window is cut to the drawn shapes.
    QRegion shape =
        X11WindowHints::hasCompositingManager() ? QRegion(m_view->hitRect().toAlignedRect()) : m_view->drawnRegion();
    shape.translate(m_view->pos());
    setMask(shape.isEmpty() ? QRegion(0, 0, 1, 1) : shape);
}

} // namespace tc
