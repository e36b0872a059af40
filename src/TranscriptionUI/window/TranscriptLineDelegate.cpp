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
constexpr int kTagPadding = 4;

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
    m_tagFont = ViewStyle::caption2(m_view->font());
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

int TranscriptLineDelegate::tagWidth(const QString& speaker) const
{
    if (speaker.isEmpty()) return 0;
    return QFontMetrics(m_tagFont).horizontalAdvance(speaker) + 2 * kTagPadding + spacing / 2;
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
    const int wrapWidth = std::max(width - tagWidth(index.data(TranscriptLineListModel::speakerRole).toString()), 40);
    const QRect bounds = QFontMetrics(m_textFont).boundingRect(QRect(0, 0, wrapWidth, 1 << 20), kTextFlags, text);
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
    int x = inner.left() + m_timeColumnWidth + spacing;
    // The tag sits on the text's first line; the text wraps beside it rather than under it.
    if (const QString speaker = index.data(TranscriptLineListModel::speakerRole).toString(); !speaker.isEmpty()) {
        const QFontMetrics tag(m_tagFont);
        const int height = tag.height();
        const int top = inner.top() + std::max(0, m_textAscent - tag.ascent()) - 1;
        const QRectF box(x, top, tag.horizontalAdvance(speaker) + 2 * kTagPadding, height + 2);
        QPainterPath path;
        path.addRoundedRect(box, 3, 3);
        const QColor color = ViewStyle::secondary(palette);
        painter->fillPath(path, ViewStyle::withOpacity(color, 0.15));
        painter->setFont(m_tagFont);
        painter->setPen(color);
        painter->drawText(box, Qt::AlignCenter, speaker);
        x += tagWidth(speaker);
    }
    painter->setFont(m_textFont);
    painter->setPen(ViewStyle::primary(palette));
    painter->drawText(QRect(x, inner.top(), inner.right() - x, inner.height()), kTextFlags,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

} // namespace tc
