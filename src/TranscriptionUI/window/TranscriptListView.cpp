#include "TranscriptionUI/window/TranscriptListView.h"

#include "TranscriptionUI/window/TranscriptLineDelegate.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>

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
    // Rows are selected whole, so copying takes their times and texts, from the menu or with the usual keys.
    auto* copy = new QAction(QStringLiteral("コピー"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &TranscriptListView::copySelection);
    addAction(copy);
    setContextMenuPolicy(Qt::ActionsContextMenu);
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
    for (const QModelIndex& index : selected) {
        // The speaker is written as the exports write it.
        const QString speaker = index.data(TranscriptLineListModel::speakerRole).toString();
        text << index.data(TranscriptLineListModel::timeTextRole).toString() + QLatin1Char(' ') +
                    (speaker.isEmpty() ? QString() : QLatin1Char('[') + speaker + QStringLiteral("] ")) +
                    index.data(Qt::DisplayRole).toString();
    }
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text.join(QLatin1Char('\n')));
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
