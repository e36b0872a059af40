#include "TranscriptionUI/window/TranscriptListView.h"

#include "TranscriptionUI/window/TranscriptLineDelegate.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

#include <algorithm>

namespace tc {

TranscriptListView::TranscriptListView(double fontSize, QWidget* parent)
    : QListView(parent), m_lines(new TranscriptLineListModel(this)),
      m_delegate(new TranscriptLineDelegate(this, fontSize))
{
    setModel(m_lines);
    setItemDelegate(m_delegate);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setResizeMode(QListView::Adjust);
    setWordWrap(true);
    // The window's background shows through, as behind the other sections.
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    connect(m_lines, &QAbstractItemModel::modelReset, m_delegate, &TranscriptLineDelegate::forgetHeights);
}

void TranscriptListView::setFontSize(double fontSize)
{
    m_delegate->setFontSize(fontSize);
    scheduleDelayedItemsLayout();
}

void TranscriptListView::copySelection() const
{
    QModelIndexList selected = selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(), [](const auto& a, const auto& b) { return a.row() < b.row(); });
    QStringList text;
    for (const QModelIndex& index : selected)
        text << index.data(TranscriptLineListModel::timeTextRole).toString() + QLatin1Char(' ') +
                    index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text.join(QLatin1Char('\n')));
}

void TranscriptListView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    QListView::keyPressEvent(event);
}

void TranscriptListView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    // Wrapped lines change height with the width.
    scheduleDelayedItemsLayout();
}

void TranscriptListView::changeEvent(QEvent* event)
{
    QListView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_delegate->forgetHeights();
        scheduleDelayedItemsLayout();
    }
}

} // namespace tc
