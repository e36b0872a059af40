#include "TranscriptionCorvane/WindowStateDump.h"

#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/window/BrowsingTranscriptView.h"
#include "TranscriptionUI/window/CalendarEventRowView.h"
#include "TranscriptionUI/window/CalendarSidebarView.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>

namespace tc {

WindowStateDump::WindowStateDump(TranscriptionRootView* root, QString path, QObject* parent)
    : QObject(parent), m_root(root), m_path(std::move(path))
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(100);
    connect(&m_debounce, &QTimer::timeout, this, &WindowStateDump::write);
    TranscriptionViewModel* model = root->model();
    const auto restart = qOverload<>(&QTimer::start);
    for (auto signal : {&SessionTranscript::linesChanged, &SessionTranscript::volatileTextChanged})
        connect(&model->sessionTranscript(), signal, &m_debounce, restart);
    connect(&model->noticeLog(), &NoticeLog::changed, &m_debounce, restart);
    connect(&model->runControl(), &RunControl::isRunningChanged, &m_debounce, restart);
    connect(model, &TranscriptionViewModel::liveCaptionContentChanged, &m_debounce, restart);
    for (auto signal : {&CalendarBrowsing::browsingEventChanged, &CalendarBrowsing::dayEventsChanged})
        connect(&model->calendarBrowsing(), signal, &m_debounce, restart);
}

namespace {

QJsonObject frame(const QWidget* widget)
{
    const QRect global(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return {{"x", global.x()}, {"y", global.y()}, {"width", global.width()}, {"height", global.height()}};
}

} // namespace

void WindowStateDump::write()
{
    QJsonArray rows;
    const TranscriptLineListModel* lines = m_root->transcriptLines();
    for (int row = 0; row < lines->rowCount(); ++row) {
        const QModelIndex index = lines->index(row);
        rows.append(QJsonObject{{"time", index.data(TranscriptLineListModel::timeTextRole).toString()},
                                {"text", index.data(Qt::DisplayRole).toString()}});
    }
    QJsonArray notices;
    for (const auto& notice : m_root->model()->noticeLog().notices())
        notices.append(QString::fromStdString(notice));
    QJsonArray captions;
    for (const auto& line : m_root->captionOverlay()->model()->content().lines)
        captions.append(QJsonObject{{"text", QString::fromStdString(line.text)}, {"volatile", line.isVolatile}});
    QJsonArray browsingRows;
    const TranscriptLineListModel* browsing = m_root->browsingLines();
    for (int row = 0; row < browsing->rowCount(); ++row)
        browsingRows.append(browsing->index(row).data(Qt::DisplayRole).toString());
    QJsonArray events;
    for (const CalendarEventRowView* row : m_root->calendarSidebar()->eventRows()) {
        if (!row->isVisible()) continue;
        QJsonObject event = frame(row);
        event.insert("title", row->text());
        event.insert("hasLines", row->hasLines());
        events.append(event);
    }
    const LiveCaptionOverlayPanel* panel = m_root->captionOverlay()->panel();
    const QJsonObject state{
        {"rows", rows},
        {"volatile", m_root->volatileLabel()->isVisible() ? m_root->volatileLabel()->text() : QString()},
        {"notices", notices},
        {"running", m_root->model()->runControl().isRunning()},
        {"runButton", m_root->runButton()->isVisible() ? m_root->runButton()->text() : QString()},
        {"captions", captions},
        {"captionPanelVisible", panel != nullptr && panel->isVisible()},
        {"captionPanel", panel != nullptr ? frame(panel) : QJsonObject()},
        {"window", frame(m_root->window())},
        {"browsing", m_root->browsingView()->isVisible()},
        {"browsingRows", browsingRows},
        {"events", events},
    };
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QJsonDocument(state).toJson());
    file.commit();
}

} // namespace tc
