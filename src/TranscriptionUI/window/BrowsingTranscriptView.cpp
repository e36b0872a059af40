#include "TranscriptionUI/window/BrowsingTranscriptView.h"

#include "TranscriptionUI/presentation/CalendarBrowsing.h"
#include "TranscriptionUI/presentation/HistoryAutosave.h"
#include "TranscriptionUI/presentation/ReadingPosition.h"
#include "TranscriptionUI/presentation/SessionTranscript.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/TranscriptListView.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tc {

BrowsingTranscriptView::BrowsingTranscriptView(CalendarBrowsing& calendar, const SessionTranscript& transcript,
                                               const HistoryAutosave& history, const ReadingPosition& reading,
                                               double fontSize, QWidget* parent)
    : QWidget(parent), m_calendar(calendar), m_transcript(transcript), m_history(history), m_reading(reading)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("browsingBanner"));
    banner->setStyleSheet(QStringLiteral("#browsingBanner { background: %1; border-radius: 6px; }")
                              .arg(ViewStyle::css(ViewStyle::withOpacity(ViewStyle::secondary(palette()), 0.1))));
    auto* bannerLayout = new QHBoxLayout(banner);
    bannerLayout->setContentsMargins(8, 8, 8, 8);
    bannerLayout->addWidget(section::iconLabel(QStringLiteral("calendar"), QString(), ViewStyle::callout(font()),
                                               ViewStyle::secondary(palette()), banner, &m_title),
                            1);
    auto* back = new QPushButton(QStringLiteral("ライブに戻る"), banner);
    connect(back, &QPushButton::clicked, this, [this] { m_calendar.setBrowsingEvent(std::nullopt); });
    bannerLayout->addWidget(back);
    layout->addWidget(banner);

    m_empty = new QLabel(QStringLiteral("この時間帯の文字起こしはありません。"), this);
    m_empty->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())) + QStringLiteral("padding: 8px;"));
    layout->addWidget(m_empty);
    m_list = new TranscriptListView(fontSize, this);
    layout->addWidget(m_list, 1);

    connect(&m_calendar, &CalendarBrowsing::browsingEventChanged, this, &BrowsingTranscriptView::reload);
    connect(&m_history, &HistoryAutosave::pastSessionsChanged, this, &BrowsingTranscriptView::reload);
    connect(&m_transcript, &SessionTranscript::linesChanged, this, &BrowsingTranscriptView::addArrivedLines);
    connect(&m_reading, &ReadingPosition::highlightedLineIDChanged, this, &BrowsingTranscriptView::showHighlighted);
    reload();
}

void BrowsingTranscriptView::setFontSize(double fontSize)
{
    m_list->setFontSize(fontSize);
}

void BrowsingTranscriptView::reload()
{
    const auto& event = m_calendar.browsingEvent();
    m_seenCurrentLines = m_transcript.lines().size();
    if (!event) {
        m_list->lines()->reset({});
        return;
    }
    m_title->setText(QStringLiteral("閲覧中: ") + QString::fromStdString(event->title));
    m_list->lines()->reset(CalendarBrowsing::linesIn(*event, m_transcript.lines(), m_history.pastSessions()));
    refreshEmpty();
    showHighlighted();
}

void BrowsingTranscriptView::showHighlighted()
{
    const auto& id = m_reading.highlightedLineID();
    m_list->lines()->setHighlighted(id);
    if (!id) return;
    if (const auto row = m_list->lines()->rowOf(*id)) {
        const QModelIndex index = m_list->lines()->index(*row);
        m_list->setCurrentIndex(index);
        m_list->scrollTo(index, QAbstractItemView::PositionAtCenter);
    }
}

void BrowsingTranscriptView::addArrivedLines()
{
    const auto& lines = m_transcript.lines();
    const auto& event = m_calendar.browsingEvent();
    if (lines.size() < m_seenCurrentLines) {
        reload();
        return;
    }
    if (event) {
        for (std::size_t i = m_seenCurrentLines; i < lines.size(); ++i) {
            if (event->start <= lines[i].time && lines[i].time <= event->end) m_list->lines()->append(lines[i]);
        }
    }
    m_seenCurrentLines = lines.size();
    refreshEmpty();
}

void BrowsingTranscriptView::refreshEmpty()
{
    const bool empty = m_list->lines()->rowCount() == 0;
    m_empty->setVisible(empty);
    m_list->setVisible(!empty);
}

} // namespace tc
