#include "TranscriptionUI/window/CalendarEventRowView.h"

#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tc {

CalendarEventRowView::CalendarEventRowView(CalendarEvent event, bool hasLines, bool isSelected, QWidget* parent)
    : QAbstractButton(parent), m_event(std::move(event)), m_hasLines(hasLines), m_isSelected(isSelected)
{
    setText(QString::fromStdString(m_event.title));
    setToolTip(text());
    setAccessibleName(formatStart(m_event.start) + QLatin1Char(' ') + text());
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CalendarEventRowView::setHasLines(bool hasLines)
{
    if (hasLines == m_hasLines) return;
    m_hasLines = hasLines;
    update();
}

QString CalendarEventRowView::formatStart(Date start)
{
    const auto ms = static_cast<qint64>(std::llround(unixSecondsFromDate(start) * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm"));
}

QSize CalendarEventRowView::sizeHint() const
{
    return {200, fontMetrics().height() + 8};
}

void CalendarEventRowView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(m_hasLines ? 1.0 : 0.6);
    if (m_isSelected) {
        QPainterPath background;
        background.addRoundedRect(QRectF(rect()), 6, 6);
        p.fillPath(background, ViewStyle::withOpacity(ViewStyle::accent(palette()), 0.15));
    }
    const QRect inner = rect().adjusted(6, 4, -6, -4);
    const QFont timeFont = ViewStyle::monospacedDigitsCaption(font());
    QFont titleFont = font();
    titleFont.setWeight(m_hasLines ? QFont::DemiBold : QFont::Normal);
    const int baseline = inner.top() + QFontMetrics(titleFont).ascent();

    const QString time = formatStart(m_event.start);
    p.setFont(timeFont);
    p.setPen(ViewStyle::secondary(palette()));
    p.drawText(QPoint(inner.left(), baseline), time);
    int x = inner.left() + QFontMetrics(timeFont).horizontalAdvance(time) + 8;

    const int iconSize = m_hasLines ? QFontMetrics(ViewStyle::caption(font())).height() : 0;
    const int titleWidth = std::max(0, inner.right() - x - (m_hasLines ? iconSize + 8 : 0));
    p.setFont(titleFont);
    p.setPen(ViewStyle::primary(palette()));
    const QString title = QFontMetrics(titleFont).elidedText(text(), Qt::ElideRight, titleWidth);
    p.drawText(QPoint(x, baseline), title);
    if (m_hasLines) {
        x += QFontMetrics(titleFont).horizontalAdvance(title) + 8;
        const QRect iconRect(x, baseline - iconSize + 2, iconSize, iconSize);
        SymbolIcon::fallback(QStringLiteral("text.bubble"), ViewStyle::accent(palette())).paint(&p, iconRect);
    }
}

} // namespace tc
