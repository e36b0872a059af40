#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"

#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"

#include <QEasingCurve>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTextOption>
#include <QToolTip>
#include <algorithm>

namespace tc {

namespace {

QTextOption captionTextOption()
{
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// Size of a text wrapped to the width; never cut off in height.
QSizeF measure(const QString& text, const QFont& font, double width)
{
    QTextLayout layout(text, font);
    layout.setTextOption(captionTextOption());
    layout.beginLayout();
    double height = 0;
    double widest = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition({0, height});
        height += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {std::min(widest, width), height};
}

QColor srgb(const LiveCaptionColor& color, double opacity)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue), static_cast<float>(opacity));
}

} // namespace

LiveCaptionOverlayView::LiveCaptionOverlayView(LiveCaptionOverlayModel* model, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setAccessibleName(QStringLiteral("ライブ字幕"));
    m_opacity = m_model->content().isEmpty() ? 0.0 : 1.0;

    m_opacityAnimation.setDuration(150);
    m_opacityAnimation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_opacityAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_opacity = value.toDouble();
        update();
    });
    m_closeAnimation.setDuration(120);
    m_closeAnimation.setEasingCurve(QEasingCurve::InOutCubic);
    connect(&m_closeAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_closeOpacity = value.toDouble();
        update();
    });
    connect(m_model, &LiveCaptionOverlayModel::contentChanged, this, &LiveCaptionOverlayView::contentDidChange);
    connect(m_model, &LiveCaptionOverlayModel::styleChanged, this, &LiveCaptionOverlayView::contentDidChange);
}

bool LiveCaptionOverlayView::isCloseButtonShown() const
{
    return m_isHovering && !m_model->content().isEmpty();
}

QFont LiveCaptionOverlayView::captionFont() const
{
    QFont font = this->font();
    const double size = m_model->style().fittedFontSize(width());
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    font.setWeight(QFont::DemiBold);
    return font;
}

LiveCaptionOverlayView::Layout LiveCaptionOverlayView::layout() const
{
    const LiveCaptionStyle& style = m_model->style();
    const auto& lines = m_model->content().lines;
    const QFont font = captionFont();
    const double available = std::max(1.0, width() - 2 * outerPadding - 2 * style.horizontalPadding);

    std::vector<QSizeF> sizes;
    double contentWidth = 0;
    double contentHeight = 0;
    for (const auto& line : lines) {
        sizes.push_back(measure(QString::fromStdString(line.text), font, available));
        contentWidth = std::max(contentWidth, sizes.back().width());
        contentHeight += sizes.back().height();
    }
    if (!sizes.empty()) contentHeight += lineSpacing * static_cast<double>(sizes.size() - 1);

    const QSizeF boxSize(contentWidth + 2 * style.horizontalPadding, contentHeight + 2 * style.verticalPadding);
    Layout result;
    result.box = QRectF(QPointF((width() - boxSize.width()) / 2.0, (height() - boxSize.height()) / 2.0), boxSize);
    double y = result.box.top() + style.verticalPadding;
    const double textLeft = (width() - available) / 2.0;
    for (const QSizeF& size : sizes) {
        result.lines.emplace_back(textLeft, y, available, size.height());
        y += size.height() + lineSpacing;
    }
    return result;
}

QRectF LiveCaptionOverlayView::boxRect() const
{
    return layout().box;
}

QRectF LiveCaptionOverlayView::hitRect() const
{
    if (m_model->content().isEmpty()) return {};
    return boxRect().adjusted(-outerPadding, -outerPadding, outerPadding, outerPadding);
}

QRectF LiveCaptionOverlayView::closeButtonRect() const
{
    const QRectF box = boxRect();
    return {box.right() - closeButtonSize + 6.0, box.top() - 6.0, closeButtonSize, closeButtonSize};
}

QRegion LiveCaptionOverlayView::drawnRegion() const
{
    if (m_model->content().isEmpty()) return {};
    QPainterPath box;
    box.addRoundedRect(boxRect(), m_model->style().cornerRadius, m_model->style().cornerRadius);
    QRegion region(box.toFillPolygon().toPolygon());
    if (isCloseButtonShown()) region += QRegion(closeButtonRect().toAlignedRect(), QRegion::Ellipse);
    return region;
}

QColor LiveCaptionOverlayView::lineColor(std::size_t index) const
{
    const LiveCaptionStyle& style = m_model->style();
    const auto& lines = m_model->content().lines;
    const bool isVolatile = index < lines.size() && lines[index].isVolatile;
    return srgb(style.textColor, isVolatile ? style.volatileOpacity : 1.0);
}

void LiveCaptionOverlayView::paintEvent(QPaintEvent*)
{
    if (m_model->content().isEmpty() && m_opacityAnimation.state() != QAbstractAnimation::Running) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setOpacity(m_opacity);

    const LiveCaptionStyle& style = m_model->style();
    const Layout current = layout();
    QPainterPath box;
    box.addRoundedRect(current.box, style.cornerRadius, style.cornerRadius);
    p.fillPath(box, srgb(style.backgroundColor, style.backgroundOpacity));

    p.setFont(captionFont());
    const auto& lines = m_model->content().lines;
    for (std::size_t i = 0; i < lines.size() && i < current.lines.size(); ++i) {
        p.setPen(lineColor(i));
        p.drawText(current.lines[i], QString::fromStdString(lines[i].text), captionTextOption());
    }

    if (m_closeOpacity > 0.0 && !lines.empty()) {
        const QRectF button = closeButtonRect();
        p.setOpacity(m_opacity * m_closeOpacity);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.5f));
        p.drawEllipse(button.adjusted(1, 1, -1, -1));
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.9f), 1.8, Qt::SolidLine, Qt::RoundCap));
        const QRectF cross = button.adjusted(6.5, 6.5, -6.5, -6.5);
        p.drawLine(cross.topLeft(), cross.bottomRight());
        p.drawLine(cross.topRight(), cross.bottomLeft());
    }
}

void LiveCaptionOverlayView::setHovering(bool hovering)
{
    if (hovering == m_isHovering) return;
    m_isHovering = hovering;
    m_closeAnimation.stop();
    m_closeAnimation.setStartValue(m_closeOpacity);
    m_closeAnimation.setEndValue(isCloseButtonShown() ? 1.0 : 0.0);
    m_closeAnimation.start();
    Q_EMIT hitRectChanged();
}

void LiveCaptionOverlayView::contentDidChange()
{
    const double target = m_model->content().isEmpty() ? 0.0 : 1.0;
    if (target != m_opacity) {
        m_opacityAnimation.stop();
        m_opacityAnimation.setStartValue(m_opacity);
        m_opacityAnimation.setEndValue(target);
        m_opacityAnimation.start();
    }
    if (!isCloseButtonShown()) {
        m_closeAnimation.stop();
        m_closeOpacity = 0.0;
    } else if (m_closeOpacity == 0.0 && m_closeAnimation.state() != QAbstractAnimation::Running) {
        m_closeAnimation.setStartValue(0.0);
        m_closeAnimation.setEndValue(1.0);
        m_closeAnimation.start();
    }
    Q_EMIT hitRectChanged();
    update();
}

void LiveCaptionOverlayView::mouseMoveEvent(QMouseEvent* event)
{
    setHovering(hitRect().contains(event->position()));
    event->ignore();
}

void LiveCaptionOverlayView::mousePressEvent(QMouseEvent* event)
{
    m_pressOnClose =
        event->button() == Qt::LeftButton && isCloseButtonShown() && closeButtonRect().contains(event->position());
    if (m_pressOnClose) {
        event->accept();
        return;
    }
    // Everything else drags the panel.
    event->ignore();
}

void LiveCaptionOverlayView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_pressOnClose) {
        event->ignore();
        return;
    }
    m_pressOnClose = false;
    event->accept();
    if (closeButtonRect().contains(event->position()) && m_model->onClose) m_model->onClose();
}

void LiveCaptionOverlayView::leaveEvent(QEvent* event)
{
    setHovering(false);
    QWidget::leaveEvent(event);
}

void LiveCaptionOverlayView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Q_EMIT hitRectChanged();
}

bool LiveCaptionOverlayView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (isCloseButtonShown() && closeButtonRect().contains(help->pos()))
            QToolTip::showText(help->globalPos(), QStringLiteral("ライブ字幕を隠す"), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

} // namespace tc
