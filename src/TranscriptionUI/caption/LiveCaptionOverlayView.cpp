#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"

#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"

#include <QEasingCurve>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>
#include <QTextOption>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <memory>

namespace tc {

namespace {

QTextOption captionTextOption(LiveCaptionAlignment alignment)
{
    const Qt::Alignment horizontal = alignment == LiveCaptionAlignment::left    ? Qt::AlignLeft
                                     : alignment == LiveCaptionAlignment::right ? Qt::AlignRight
                                                                                : Qt::AlignHCenter;
    QTextOption option(horizontal);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// The text wrapped to the width, its rows one below the other from (0, 0).
std::unique_ptr<QTextLayout> laidOut(const QString& text, const QFont& font, const QTextOption& option, double width)
{
    auto layout = std::make_unique<QTextLayout>(text, font);
    layout->setTextOption(option);
    layout->beginLayout();
    double height = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(width);
        line.setPosition({0, height});
        height += line.height();
    }
    layout->endLayout();
    return layout;
}

// Size of a text wrapped to the width; never cut off in height.
QSizeF measure(const QTextLayout& layout, double width)
{
    double height = 0;
    double widest = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        height += layout.lineAt(i).height();
        widest = std::max(widest, layout.lineAt(i).naturalTextWidth());
    }
    return {std::min(widest, width), height};
}

// The letters' outlines, for drawing an edge around them.
QPainterPath glyphOutlines(const QTextLayout& layout)
{
    QPainterPath path;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QRawFont font = run.rawFont();
        const auto glyphs = run.glyphIndexes();
        const auto positions = run.positions();
        for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i)
            path.addPath(font.pathForGlyph(glyphs[i]).translated(positions[i]));
    }
    return path;
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
    return captionFont(width());
}

QFont LiveCaptionOverlayView::captionFont(double forWidth) const
{
    QFont font = this->font();
    const std::string& family = m_model->style().fontFamily;
    if (!family.empty()) font.setFamilies({QString::fromStdString(family)});
    const double size = m_model->style().fittedFontSize(forWidth);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    font.setWeight(QFont::DemiBold);
    return font;
}

LiveCaptionOverlayView::Layout LiveCaptionOverlayView::layout() const
{
    const LiveCaptionStyle& style = m_model->style();
    const auto& lines = m_model->content().lines;
    const QFont font = captionFont();
    const QTextOption option = captionTextOption(style.alignment);
    const double available = std::max(1.0, width() - 2 * outerPadding - 2 * style.horizontalPadding);

    Layout result;
    std::vector<QSizeF> sizes;
    double contentWidth = 0;
    double contentHeight = 0;
    for (const auto& line : lines) {
        result.texts.push_back(laidOut(QString::fromStdString(line.text), font, option, available));
        sizes.push_back(measure(*result.texts.back(), available));
        contentWidth = std::max(contentWidth, sizes.back().width());
        contentHeight += sizes.back().height();
    }
    if (!sizes.empty()) contentHeight += lineSpacing * static_cast<double>(sizes.size() - 1);

    const QSizeF boxSize(contentWidth + 2 * style.horizontalPadding, contentHeight + 2 * style.verticalPadding);
    const double boxLeft = style.alignment == LiveCaptionAlignment::left    ? outerPadding
                           : style.alignment == LiveCaptionAlignment::right ? width() - outerPadding - boxSize.width()
                                                                            : (width() - boxSize.width()) / 2.0;
    result.box = QRectF(QPointF(boxLeft, (height() - boxSize.height()) / 2.0), boxSize);
    double y = result.box.top() + style.verticalPadding;
    // Each row spans the whole width the text may take; its alignment puts it inside the box.
    const double textLeft = outerPadding + style.horizontalPadding;
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
    const auto& lines = m_model->content().lines;
    const LiveCaptionInk ink = m_model->style().textInk(index < lines.size() && lines[index].isVolatile);
    return srgb(ink.color, ink.opacity);
}

QRectF LiveCaptionOverlayView::lineRect(std::size_t index) const
{
    const Layout current = layout();
    return index < current.lines.size() ? current.lines[index] : QRectF();
}

int LiveCaptionOverlayView::heightForRows(int rows, double forWidth) const
{
    const LiveCaptionStyle& style = m_model->style();
    const double rowHeight = QFontMetricsF(captionFont(forWidth)).height();
    const int count = std::max(rows, 1);
    return static_cast<int>(
        std::ceil(2 * outerPadding + 2 * style.verticalPadding + count * rowHeight + (count - 1) * lineSpacing));
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

    const auto& lines = m_model->content().lines;
    const double fontSize = captionFont().pixelSize();
    const QColor edge = srgb(style.edgeColor(), 1.0);
    for (std::size_t i = 0; i < lines.size() && i < current.lines.size() && i < current.texts.size(); ++i) {
        const QPointF origin = current.lines[i].topLeft();
        if (style.textEdge != LiveCaptionTextEdge::none) {
            const QPainterPath letters = glyphOutlines(*current.texts[i]).translated(origin);
            if (style.textEdge == LiveCaptionTextEdge::outline) {
                // Half of the stroke lies under the letters, which are drawn over it.
                p.strokePath(letters,
                             QPen(edge, std::max(2.0, fontSize / 8.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            } else {
                const double offset = std::max(2.0, fontSize / 14.0);
                p.fillPath(letters.translated(offset, offset), edge);
            }
        }
        p.setPen(lineColor(i));
        current.texts[i]->draw(&p, origin);
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
