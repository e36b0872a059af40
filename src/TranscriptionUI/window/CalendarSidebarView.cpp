#include "TranscriptionUI/window/CalendarSidebarView.h"

#include "TranscriptionUI/presentation/CalendarBrowsing.h"
#include "TranscriptionUI/presentation/CalendarDayRows.h"
#include "TranscriptionUI/presentation/HistoryAutosave.h"
#include "TranscriptionUI/presentation/SessionTranscript.h"
#include "TranscriptionUI/window/CalendarEventRowView.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace tc {

namespace {

enum Page { undeterminedPage, deniedPage, emptyPage, eventsPage };

QWidget* accessPage(const QString& symbol, const QString& text, const QString& buttonText, QWidget* parent,
                    QPushButton** buttonOut)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(section::iconLabel(symbol, text, ViewStyle::callout(page->font()),
                                         ViewStyle::secondary(page->palette()), page));
    *buttonOut = new QPushButton(buttonText, page);
    layout->addWidget(*buttonOut, 0, Qt::AlignLeft);
    layout->addStretch(1);
    return page;
}

} // namespace

CalendarSidebarView::CalendarSidebarView(CalendarBrowsing& calendar, const SessionTranscript& transcript,
                                         const HistoryAutosave& history, QWidget* parent)
    : QWidget(parent), m_calendar(calendar), m_transcript(transcript), m_history(history)
{
    setMinimumWidth(220);
    setMaximumWidth(320);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout();
    QToolButton* previous = section::borderlessButton(QStringLiteral("chevron.left"), QString(), this);
    previous->setAccessibleName(QStringLiteral("前の日"));
    QToolButton* next = section::borderlessButton(QStringLiteral("chevron.right"), QString(), this);
    next->setAccessibleName(QStringLiteral("次の日"));
    m_dateLabel = new QLabel(this);
    m_dateLabel->setFont(ViewStyle::headline(font()));
    m_dateLabel->setAlignment(Qt::AlignCenter);
    connect(previous, &QToolButton::clicked, this, [this] { m_calendar.moveDay(-1); });
    connect(next, &QToolButton::clicked, this, [this] { m_calendar.moveDay(1); });
    header->addWidget(previous);
    header->addWidget(m_dateLabel, 1);
    header->addWidget(next);
    layout->addLayout(header);
    layout->addWidget(section::divider(this));

    m_stack = new QStackedWidget(this);
    QPushButton* allow = nullptr;
    QPushButton* settings = nullptr;
    m_stack->addWidget(accessPage(QStringLiteral("calendar.badge.plus"),
                                  QStringLiteral("カレンダーを許可すると、その日の予定が表示されます。"),
                                  QStringLiteral("カレンダーを許可"), m_stack, &allow));
    m_stack->addWidget(accessPage(QStringLiteral("calendar.badge.exclamationmark"),
                                  QStringLiteral("カレンダーが許可されていません。"),
                                  QStringLiteral("カレンダーへのアクセスを許可"), m_stack, &settings));
    // This platform has no privacy pane for the calendar: both buttons make the in-app request.
    for (QPushButton* button : {allow, settings})
        connect(button, &QPushButton::clicked, this, [this] { m_calendar.requestAccess(); });

    auto* empty = new QWidget(m_stack);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setContentsMargins(0, 0, 0, 0);
    auto* emptyLabel = new QLabel(QStringLiteral("予定はありません。"), empty);
    emptyLabel->setFont(ViewStyle::callout(font()));
    emptyLabel->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    emptyLayout->addWidget(emptyLabel);
    m_sourcesLabel = new QLabel(empty);
    m_sourcesLabel->setObjectName(QStringLiteral("calendarSourcesSummary"));
    m_sourcesLabel->setWordWrap(true);
    m_sourcesLabel->setFont(ViewStyle::caption(font()));
    m_sourcesLabel->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    emptyLayout->addWidget(m_sourcesLabel);
    m_addSource = new QPushButton(QStringLiteral("カレンダーを追加…"), empty);
    m_addSource->setObjectName(QStringLiteral("addCalendarSource"));
    connect(m_addSource, &QPushButton::clicked, this, &CalendarSidebarView::addSourceRequested);
    emptyLayout->addWidget(m_addSource, 0, Qt::AlignLeft);
    emptyLayout->addStretch(1);
    m_stack->addWidget(empty);

    auto* scroll = new QScrollArea(m_stack);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_eventList = new QWidget(scroll);
    m_eventLayout = new QVBoxLayout(m_eventList);
    m_eventLayout->setContentsMargins(0, 0, 0, 0);
    m_eventLayout->setSpacing(2);
    scroll->setWidget(m_eventList);
    m_stack->addWidget(scroll);
    layout->addWidget(m_stack, 1);

    connect(&m_calendar, &CalendarBrowsing::dayChanged, this, &CalendarSidebarView::refreshHeader);
    for (auto signal : {&CalendarBrowsing::statusChanged, &CalendarBrowsing::dayEventsChanged,
                        &CalendarBrowsing::browsingEventChanged, &CalendarBrowsing::sourceNamesChanged})
        connect(&m_calendar, signal, this, &CalendarSidebarView::rebuild);
    connect(&m_history, &HistoryAutosave::pastSessionsChanged, this, &CalendarSidebarView::rebuild);
    connect(&m_transcript, &SessionTranscript::linesChanged, this, &CalendarSidebarView::markArrivedLines);
    refreshHeader();
    rebuild();
}

QString CalendarSidebarView::dateText(Date date)
{
    const auto ms = static_cast<qint64>(std::llround(unixSecondsFromDate(date) * 1000.0));
    return QLocale(QLocale::Japanese, QLocale::Japan)
        .toString(QDateTime::fromMSecsSinceEpoch(ms), QStringLiteral("M/d (ddd)"));
}

QString CalendarSidebarView::sourcesText(const std::vector<std::string>& names)
{
    if (names.empty())
        return QStringLiteral("読み込むカレンダーがありません。デスクトップのアカウント（Evolution や GNOME の"
                              "オンラインアカウント）、カレンダーのアドレス、.ics ファイルを追加できます。");
    QStringList shown;
    for (const auto& name : names)
        shown << QString::fromStdString(name);
    return QStringLiteral("予定の読み込み元: %1").arg(shown.join(QStringLiteral("、")));
}

void CalendarSidebarView::refreshHeader()
{
    m_dateLabel->setText(dateText(m_calendar.day()));
}

void CalendarSidebarView::rebuild()
{
    m_seenCurrentLines = m_transcript.lines().size();
    section::clearLayout(m_eventLayout);
    m_rows.clear();
    m_moreRows.clear();
    switch (m_calendar.status()) {
    case CalendarAuthorizationStatus::undetermined: m_stack->setCurrentIndex(undeterminedPage); return;
    case CalendarAuthorizationStatus::denied:
    case CalendarAuthorizationStatus::restricted: m_stack->setCurrentIndex(deniedPage); return;
    case CalendarAuthorizationStatus::granted: break;
    }
    const auto& events = m_calendar.dayEvents();
    if (events.empty()) {
        m_sourcesLabel->setText(sourcesText(m_calendar.sourceNames()));
        m_stack->setCurrentIndex(emptyPage);
        return;
    }
    m_stack->setCurrentIndex(eventsPage);
    const auto& browsing = m_calendar.browsingEvent();
    for (const CalendarDayRow& row : calendarDayRows(events)) {
        if (row.kind == CalendarDayRow::Kind::more) {
            auto* more = new QLabel(QStringLiteral("ほか %1 件").arg(row.hiddenCount), m_eventList);
            more->setFont(ViewStyle::caption(font()));
            more->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())) +
                                QStringLiteral("padding: 2px 6px;"));
            m_eventLayout->addWidget(more);
            m_moreRows.push_back(more);
            continue;
        }
        auto* view = new CalendarEventRowView(
            row.event, CalendarBrowsing::hasLines(row.event, m_transcript.lines(), m_history.pastSessions()),
            browsing && *browsing == row.event, m_eventList);
        connect(view, &CalendarEventRowView::clicked, this,
                [this, event = row.event] { m_calendar.setBrowsingEvent(event); });
        m_eventLayout->addWidget(view);
        m_rows.push_back(view);
    }
    m_eventLayout->addStretch(1);
}

void CalendarSidebarView::markArrivedLines()
{
    const auto& lines = m_transcript.lines();
    if (lines.size() < m_seenCurrentLines) {
        rebuild();
        return;
    }
    for (std::size_t i = m_seenCurrentLines; i < lines.size(); ++i) {
        for (CalendarEventRowView* row : m_rows) {
            const auto& event = row->event();
            if (event.start <= lines[i].time && lines[i].time <= event.end) row->setHasLines(true);
        }
    }
    m_seenCurrentLines = lines.size();
}

} // namespace tc
