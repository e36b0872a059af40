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
{}

void TranscriptLineDelegate::setFontSize(double fontSize)
{
    if (fontSize == m_fontSize) return;
    m_fontSize = fontSize;
    forgetHeights();
}

void TranscriptLineDelegate::forgetHeights()
{
    m_heights.clear();
}

QFont TranscriptLineDelegate::textFont() const
{
    QFont font = m_view->font();
    font.setPixelSize(static_cast<int>(std::lround(m_fontSize)));
    return font;
}

QFont TranscriptLineDelegate::timeFont() const
{
    return ViewStyle::monospacedDigitsCaption(m_view->font());
}

int TranscriptLineDelegate::timeColumnWidth() const
{
    return QFontMetrics(timeFont()).horizontalAdvance(QStringLiteral("00:00:00"));
}

int TranscriptLineDelegate::textWidth() const
{
    const int width = m_view->viewport()->width() - 2 * horizontalMargin - timeColumnWidth() - spacing;
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
    const QRect bounds = QFontMetrics(textFont()).boundingRect(QRect(0, 0, width, 1 << 20), kTextFlags, text);
    const int height = std::max(bounds.height(), QFontMetrics(timeFont()).height()) + 2 * verticalMargin;
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
    const QFont text = textFont();
    const QFont time = timeFont();
    // The smaller time is pushed down by the ascent difference so both first lines share one baseline.
    const int offset = std::max(0, QFontMetrics(text).ascent() - QFontMetrics(time).ascent());
    painter->setFont(time);
    painter->setPen(ViewStyle::secondary(palette));
    painter->drawText(QRect(inner.left(), inner.top() + offset, timeColumnWidth(), inner.height()),
                      Qt::AlignLeft | Qt::AlignTop, index.data(TranscriptLineListModel::timeTextRole).toString());
    painter->setFont(text);
    painter->setPen(ViewStyle::primary(palette));
    const int x = inner.left() + timeColumnWidth() + spacing;
    painter->drawText(QRect(x, inner.top(), inner.right() - x, inner.height()), kTextFlags,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

} // namespace tc
