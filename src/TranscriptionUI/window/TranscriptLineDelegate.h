#pragma once

#include <QStyledItemDelegate>

#include <vector>

class QAbstractItemView;

namespace tc {

// Draws one line of a TranscriptLineListModel: its time, its speaker's small tag when it has one, and its
// wrapped text on a shared first baseline, on a rounded accent background while the line is highlighted. Heights are kept per row until the width or the
// font size changes, so appending to a long transcript measures only the new line. Main thread only.
class TranscriptLineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int horizontalMargin = 4;
    static constexpr int verticalMargin = 2;
    static constexpr int spacing = 8;

    // The view whose viewport width the text wraps to.
    TranscriptLineDelegate(QAbstractItemView* view, double fontSize);

    double fontSize() const { return m_fontSize; }
    void setFontSize(double fontSize);
    // Forgets the measured heights (the rows were replaced, or the view's font changed).
    void forgetHeights();

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // Fonts and the time column follow the view's font and the font size; measured here, not per row.
    void measureFonts();
    int textWidth() const;
    // The width the speaker's tag takes before the text, spacing included; 0 without a tag.
    int tagWidth(const QString& speaker) const;

    QAbstractItemView* m_view;
    double m_fontSize;
    QFont m_textFont;
    QFont m_timeFont;
    QFont m_tagFont;
    int m_timeColumnWidth = 0;
    int m_textAscent = 0;
    int m_timeAscent = 0;
    int m_timeHeight = 0;
    mutable std::vector<int> m_heights;
    mutable int m_measuredWidth = -1;
};

} // namespace tc
