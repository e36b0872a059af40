#include "TranscriptionUI/window/TranscriptLineDelegate.h"

#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

} // namespace

TranscriptLineDelegate::TranscriptLineDelegate(QAbstractItemView* view, double fontSize)
    : QStyledItemDelegate(view), m_view(view), m_fontSize(fontSize)
{
    measureFonts();
}

void TranscriptLineDelegate::setFontSize(double fontSize)
{
    if (fontSize == m_fontSize) return;
    m_fontSize = fontSize;
    forgetHeights();
}

void TranscriptLineDelegate::forgetHeights()
{
    m_heights.clear();
    measureFonts();
}

void TranscriptLineDelegate::measureFonts()
{
    m_textFont = m_view->font();
    m_textFont.setPixelSize(static_cast<int>(std::lround(m_fontSize)));
    m_timeFont = ViewStyle::monospacedDigitsCaption(m_view->font());
    const QFontMetrics time(m_timeFont);
    m_timeColumnWidth = time.horizontalAdvance(QStringLiteral("00:00:00"));
    m_timeAscent = time.ascent();
    m_timeHeight = time.height();
    m_textAscent = QFontMetrics(m_textFont).ascent();
}

int TranscriptLineDelegate::textWidth() const
{
    const int width = m_view->viewport()->width() - 2 * horizontalMargin - m_timeColumnWidth - spacing;
    return std::max(width, 40);
}

QSize TranscriptLineDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const int width = textWidth();
    if (width != m_measuredWidth) {
        m_heights.clear();
        m_measuredWidth = width;
    }
    const auto row = static_cast<std::size_t>(std::max(index.row(), 0));
    if (row < m_heights.size() && m_heights[row] > 0) return {m_view->viewport()->width(), m_heights[row]};
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect bounds = QFontMetrics(m_textFont).boundingRect(QRect(0, 0, width, 1 << 20), kTextFlags, text);
    const int height = std::max(bounds.height(), m_timeHeight) + 2 * verticalMargin;
    if (m_heights.size() <= row) m_heights.resize(row + 1, 0);
    m_heights[row] = height;
    return {m_view->viewport()->width(), height};
}

void TranscriptLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = m_view->palette();
    if (index.data(TranscriptLineListModel::highlightedRole).toBool()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(option.rect), 4, 4);
        painter->fillPath(path, ViewStyle::withOpacity(ViewStyle::accent(palette), 0.18));
    }
    const QRect inner = option.rect.adjusted(horizontalMargin, verticalMargin, -horizontalMargin, -verticalMargin);
    // The smaller time is pushed down by the ascent difference so both first lines share one baseline.
    const int offset = std::max(0, m_textAscent - m_timeAscent);
    painter->setFont(m_timeFont);
    painter->setPen(ViewStyle::secondary(palette));
    painter->drawText(QRect(inner.left(), inner.top() + offset, m_timeColumnWidth, inner.height()),
                      Qt::AlignLeft | Qt::AlignTop, index.data(TranscriptLineListModel::timeTextRole).toString());
    painter->setFont(m_textFont);
    painter->setPen(ViewStyle::primary(palette));
    const int x = inner.left() + m_timeColumnWidth + spacing;
    painter->drawText(QRect(x, inner.top(), inner.right() - x, inner.height()), kTextFlags,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

} // namespace tc
