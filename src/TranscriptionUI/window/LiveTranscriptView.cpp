#include "TranscriptionUI/window/LiveTranscriptView.h"

#include "TranscriptionDomain/DomainGlossary.h"
#include "TranscriptionUI/presentation/ReadingPosition.h"
#include "TranscriptionUI/presentation/SessionTranscript.h"
#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/TranscriptListView.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tc {

LiveTranscriptView::LiveTranscriptView(SessionTranscript& transcript, ReadingPosition& reading, double fontSize,
                                       QWidget* parent)
    : QWidget(parent), m_transcript(transcript), m_reading(reading), m_fontSize(fontSize),
      m_list(new TranscriptListView(fontSize, this)), m_volatileLabel(new QLabel(this)),
      m_jumpButton(new QPushButton(this)),
      m_scrollAnimation(new QPropertyAnimation(m_list->verticalScrollBar(), "value", this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_list, 1);
    m_volatileLabel->setTextFormat(Qt::PlainText);
    m_volatileLabel->setWordWrap(true);
    m_volatileLabel->setContentsMargins(4, 2, 4, 2);
    m_volatileLabel->setStyleSheet(QStringLiteral("color: %1;").arg(ViewStyle::css(ViewStyle::secondary(palette()))));
    layout->addWidget(m_volatileLabel);

    m_jumpButton->setIcon(SymbolIcon::fallback(QStringLiteral("arrow.down"), Qt::white));
    m_jumpButton->setToolTip(QString::fromStdString(DomainGlossary::latest().meaning));
    m_jumpButton->setCursor(Qt::PointingHandCursor);
    m_jumpButton->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border-radius: 13px; padding: 4px 12px; }")
            .arg(ViewStyle::css(ViewStyle::accent(palette()))));
    connect(m_jumpButton, &QPushButton::clicked, this, [this] {
        m_reading.setFollowingLatest(true);
        scrollToBottom(true);
    });

    m_scrollAnimation->setDuration(250);
    m_scrollAnimation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(m_scrollAnimation, &QPropertyAnimation::finished, this, [this] {
        m_programmaticScroll = false;
        updateNearBottom();
        if (m_reading.isFollowingLatest()) scrollToBottom(false);
    });
    QScrollBar* bar = m_list->verticalScrollBar();
    // The list lays out new rows later, in one pass; following waits for that instead of forcing a layout per line.
    connect(bar, &QScrollBar::rangeChanged, this, [this] {
        if (m_reading.isFollowingLatest()) {
            if (std::exchange(m_glideToNewLine, false))
                animateScroll(m_list->verticalScrollBar()->maximum());
            else if (m_scrollAnimation->state() != QAbstractAnimation::Running)
                scrollToBottom(false);
        }
        updateNearBottom();
    });
    connect(bar, &QScrollBar::valueChanged, this, [this] {
        updateNearBottom();
        if (!m_programmaticScroll) m_reading.setFollowingLatest(m_isNearBottom);
    });

    connect(&m_transcript, &SessionTranscript::linesChanged, this, &LiveTranscriptView::syncLines);
    connect(&m_transcript, &SessionTranscript::volatileTextChanged, this, &LiveTranscriptView::refreshVolatile);
    connect(&m_reading, &ReadingPosition::isFollowingLatestChanged, this, [this] {
        refreshJumpButton();
        if (m_reading.isFollowingLatest()) scrollToBottom(true);
    });
    connect(&m_reading, &ReadingPosition::unreadCountChanged, this, &LiveTranscriptView::refreshJumpButton);
    connect(&m_reading, &ReadingPosition::pendingScrollTargetChanged, this, &LiveTranscriptView::scrollToPendingTarget);
    connect(&m_reading, &ReadingPosition::highlightedLineIDChanged, this,
            [this] { m_list->lines()->setHighlighted(m_reading.highlightedLineID()); });

    syncLines();
    refreshVolatile();
    refreshJumpButton();
}

void LiveTranscriptView::setFontSize(double fontSize)
{
    m_fontSize = fontSize;
    m_list->setFontSize(fontSize);
    refreshVolatile();
}

void LiveTranscriptView::syncLines()
{
    TranscriptLineListModel* lines = m_list->lines();
    const auto before = lines->rowCount();
    const bool wasReset =
        before > 0 && (m_transcript.lines().size() < static_cast<std::size_t>(before) ||
                       m_transcript.lines()[static_cast<std::size_t>(before) - 1].id != lines->lines().back().id);
    lines->sync(m_transcript.lines());
    lines->setHighlighted(m_reading.highlightedLineID());
    const bool added = !wasReset && lines->rowCount() > before;
    if (!m_reading.isFollowingLatest()) return;
    if (added && isVisible())
        m_glideToNewLine = true;
    else if (added || wasReset)
        scrollToBottom(false);
}

void LiveTranscriptView::refreshVolatile()
{
    const QString text = QString::fromStdString(m_transcript.volatileText());
    QFont font = m_volatileLabel->font();
    font.setPixelSize(static_cast<int>(std::lround(m_fontSize)));
    font.setItalic(true);
    m_volatileLabel->setFont(font);
    m_volatileLabel->setText(text);
    m_volatileLabel->setVisible(!text.isEmpty());
}

QString LiveTranscriptView::jumpButtonLabel(std::int64_t unreadCount)
{
    QString label = QString::fromStdString(DomainGlossary::latest().label);
    if (unreadCount >= 1) label += QStringLiteral("（") + QString::number(unreadCount) + QStringLiteral("）");
    return label;
}

void LiveTranscriptView::refreshJumpButton()
{
    m_jumpButton->setText(jumpButtonLabel(m_reading.unreadCount()));
    m_jumpButton->setVisible(!m_reading.isFollowingLatest());
    placeJumpButton();
}

void LiveTranscriptView::placeJumpButton()
{
    if (m_jumpButton->isHidden()) return;
    m_jumpButton->adjustSize();
    const QSize size = m_jumpButton->sizeHint();
    m_jumpButton->setGeometry((width() - size.width()) / 2, height() - size.height() - 8, size.width(), size.height());
    m_jumpButton->raise();
}

void LiveTranscriptView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeJumpButton();
}

void LiveTranscriptView::scrollToPendingTarget()
{
    const auto& target = m_reading.pendingScrollTarget();
    if (!target) return;
    if (const auto row = m_list->lines()->rowOf(*target)) {
        // Rows added a moment ago may not be laid out yet.
        static_cast<QAbstractItemView*>(m_list)->doItemsLayout();
        const QRect rect = m_list->visualRect(m_list->lines()->index(*row));
        const int centre = m_list->verticalScrollBar()->value() + rect.center().y();
        animateScroll(centre - m_list->viewport()->height() / 2);
    }
    m_reading.setPendingScrollTarget(std::nullopt);
}

bool LiveTranscriptView::isNearBottom(double offset, double contentHeight, double containerHeight)
{
    return offset >= contentHeight - containerHeight - nearBottomTolerance;
}

void LiveTranscriptView::updateNearBottom()
{
    const QScrollBar* bar = m_list->verticalScrollBar();
    // The scroll bar's maximum is the content height minus the container height.
    const double container = m_list->viewport()->height();
    m_isNearBottom = isNearBottom(bar->value(), bar->maximum() + container, container);
}

void LiveTranscriptView::scrollToBottom(bool animated)
{
    QScrollBar* bar = m_list->verticalScrollBar();
    if (animated) {
        static_cast<QAbstractItemView*>(m_list)->doItemsLayout();
        animateScroll(bar->maximum());
        return;
    }
    if (m_scrollAnimation->state() == QAbstractAnimation::Running) return;
    m_programmaticScroll = true;
    bar->setValue(bar->maximum());
    m_programmaticScroll = false;
    updateNearBottom();
}

void LiveTranscriptView::animateScroll(int target)
{
    QScrollBar* bar = m_list->verticalScrollBar();
    m_scrollAnimation->stop();
    target = std::clamp(target, bar->minimum(), bar->maximum());
    m_programmaticScroll = true;
    if (!isVisible()) {
        bar->setValue(target);
        m_programmaticScroll = false;
        updateNearBottom();
        return;
    }
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(target);
    m_scrollAnimation->start();
}

} // namespace tc
