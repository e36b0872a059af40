#include "TranscriptionCorvane/WindowStateDump.h"

#include "TranscriptionUI/CalendarEventRowView.h"
#include "TranscriptionUI/LiveCaptionOverlayController.h"
#include "TranscriptionUI/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/TranscriptRowView.h"
#include "TranscriptionUI/TranscriptionRootView.h"

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
    for (auto signal : {&TranscriptionViewModel::finalizedLinesChanged, &TranscriptionViewModel::volatileTextChanged,
                        &TranscriptionViewModel::noticesChanged, &TranscriptionViewModel::isRunningChanged,
                        &TranscriptionViewModel::liveCaptionContentChanged, &TranscriptionViewModel::dayEventsChanged,
                        &TranscriptionViewModel::browsingEventChanged})
        connect(model, signal, &m_debounce, qOverload<>(&QTimer::start));
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
    for (const TranscriptRowView* row : m_root->transcriptRows())
        rows.append(QJsonObject{{"time", row->timeText()}, {"text", row->text()}});
    QJsonArray notices;
    for (const auto& notice : m_root->model()->notices())
        notices.append(QString::fromStdString(notice));
    QJsonArray captions;
    for (const auto& line : m_root->captionOverlay()->model()->content().lines)
        captions.append(QJsonObject{{"text", QString::fromStdString(line.text)}, {"volatile", line.isVolatile}});
    QJsonArray browsingRows;
    for (const TranscriptRowView* row : m_root->browsingRows())
        browsingRows.append(row->text());
    QJsonArray events;
    for (const CalendarEventRowView* row : m_root->calendarSidebar()->findChildren<CalendarEventRowView*>()) {
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
        {"running", m_root->model()->isRunning()},
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
