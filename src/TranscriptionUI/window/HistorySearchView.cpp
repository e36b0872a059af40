#include "TranscriptionUI/window/HistorySearchView.h"

#include "TranscriptionUI/presentation/HistorySearch.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QApplication>
#include <QDateTime>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

QString formatted(Date date, const QString& pattern)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSecondsFromDate(date) * 1000.0)))
        .toString(pattern);
}

// Draws a result line's rich text; only the rows in view are drawn, so hundreds of results cost no more than a
// screenful (a label per row made each keystroke stall the window).
class MarkedLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString html = index.data(HistorySearchView::markedTextRole).toString();
        if (html.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem base = option;
        initStyleOption(&base, index);
        base.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &base, painter, widget);
        QTextDocument document;
        document.setDefaultFont(option.font);
        document.setDocumentMargin(2);
        document.setHtml(html);
        painter->save();
        painter->translate(option.rect.left() + 12, option.rect.top());
        painter->setClipRect(QRect(0, 0, option.rect.width() - 12, option.rect.height()));
        document.drawContents(painter);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width(), std::max(size.height(), option.fontMetrics.height() + 6)};
    }
};

QString escaped(const std::string& text, std::size_t begin, std::size_t end)
{
    return QString::fromUtf8(text.data() + begin, static_cast<qsizetype>(end - begin)).toHtmlEscaped();
}

} // namespace

HistorySearchView::HistorySearchView(HistorySearch& search, OpenResult open, QWidget* parent)
    : QWidget(parent), m_search(search), m_open(std::move(open))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(4);
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(QStringLiteral("履歴を検索"));
    m_field->setClearButtonEnabled(true);
    m_field->setAccessibleName(QStringLiteral("履歴を検索"));
    layout->addWidget(m_field);
    m_summary = new QLabel(this);
    m_summary->setFont(ViewStyle::caption(font()));
    m_summary->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    layout->addWidget(m_summary);
    m_results = new QListWidget(this);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->setMaximumHeight(260);
    m_results->setUniformItemSizes(true);
    m_results->setAccessibleName(QStringLiteral("検索結果"));
    m_results->setItemDelegate(new MarkedLineDelegate(m_results));
    layout->addWidget(m_results);

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, m_field, &QLineEdit::clear);

    m_field->installEventFilter(this);
    connect(m_field, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_search.setQuery(text.toStdString()); });
    connect(m_results, &QListWidget::itemActivated, this, &HistorySearchView::choose);
    connect(m_results, &QListWidget::itemClicked, this, &HistorySearchView::choose);
    connect(&m_search, &HistorySearch::resultsChanged, this, &HistorySearchView::rebuild);
    // An emptied field closes the results even when they were already empty ("no match").
    connect(&m_search, &HistorySearch::queryChanged, this, [this] {
        if (m_field->text().trimmed().isEmpty()) rebuild();
    });
    rebuild();
}

void HistorySearchView::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

bool HistorySearchView::hasFocusWithin() const
{
    return m_field->hasFocus() || m_results->hasFocus();
}

void HistorySearchView::chooseCurrent()
{
    QListWidgetItem* item = m_results->currentItem();
    for (int i = 0; !item && i < m_results->count(); ++i) {
        if (!m_results->item(i)->data(lineIdRole).toString().isEmpty()) item = m_results->item(i);
    }
    choose(item);
}

bool HistorySearchView::eventFilter(QObject* watched, QEvent* event)
{
    // Down from the field walks into the results.
    if (watched == m_field && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down && m_results->isVisible() && m_results->count() > 1) {
        m_results->setFocus(Qt::TabFocusReason);
        if (!m_results->currentItem() || m_results->currentRow() == 0) m_results->setCurrentRow(1);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString HistorySearchView::markedText(const std::string& text, const std::vector<TextRange>& ranges)
{
    const QString mark = QStringLiteral("<span style=\"background-color: %1;\">")
                             .arg(ViewStyle::css(ViewStyle::withOpacity(ViewStyle::orange(), 0.35)));
    QString html;
    std::size_t at = 0;
    for (const TextRange& range : ranges) {
        const std::size_t begin = std::clamp(range.begin, at, text.size());
        const std::size_t end = std::clamp(range.end, begin, text.size());
        html += escaped(text, at, begin) + mark + escaped(text, begin, end) + QStringLiteral("</span>");
        at = end;
    }
    return html + escaped(text, at, text.size());
}

void HistorySearchView::rebuild()
{
    m_results->clear();
    const bool open = !m_field->text().trimmed().isEmpty();
    const auto& results = m_search.results();
    if (results.sessions.empty()) {
        m_summary->setText(QStringLiteral("一致する行はありません。語を変えてお試しください。"));
    } else if (results.truncated) {
        m_summary->setText(QStringLiteral("%1 行が一致しました（先頭の一部を表示しています。語を足すと絞り込めます）。")
                               .arg(results.matchedLines));
    } else {
        m_summary->setText(QStringLiteral("%1 行が一致しました。").arg(results.matchedLines));
    }
    m_summary->setVisible(open);
    m_results->setVisible(open && !results.sessions.empty());
    if (!open) return;
    for (const auto& session : results.sessions) {
        const QString heading = formatted(session.startedAt, QStringLiteral("yyyy年M月d日 HH:mm")) +
                                QStringLiteral(" のセッション");
        auto* header = new QListWidgetItem(heading, m_results);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
        header->setFlags(Qt::ItemIsEnabled);
        header->setData(plainTextRole, heading);
        for (const auto& hit : session.lines) {
            const QString time = formatted(hit.time, QStringLiteral("HH:mm:ss"));
            auto* item = new QListWidgetItem(m_results);
            item->setData(lineIdRole, QString::fromStdString(hit.lineId.toString()));
            item->setData(plainTextRole, time + QStringLiteral("  ") + QString::fromStdString(hit.text));
            item->setData(markedTextRole, QStringLiteral("<span style=\"color: %1;\">%2</span>&nbsp;&nbsp;%3")
                                              .arg(ViewStyle::css(ViewStyle::secondary(palette())), time,
                                                   markedText(hit.text, hit.ranges)));
        }
    }
}

void HistorySearchView::choose(QListWidgetItem* item)
{
    if (!item) return;
    const QString id = item->data(lineIdRole).toString();
    if (id.isEmpty()) return;
    if (const auto uuid = Uuid::fromString(id.toStdString()); uuid && m_open) m_open(*uuid);
}

} // namespace tc
