#include "TranscriptionUI/settings/CalendarSourcesModel.h"

#include "TranscriptionInfrastructure/calendar/CalendarSources.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"
#include "TranscriptionUI/presentation/ObservedValue.h"
#include "TranscriptionUI/presentation/SerialWorker.h"

#include <QPointer>

#include <cmath>

namespace tc {

namespace {

std::filesystem::path pathOf(const QString& file)
{
    return std::filesystem::path(file.toStdString());
}

} // namespace

CalendarSourcesModel::CalendarSourcesModel(std::shared_ptr<CalendarSources> sources, QObject* parent)
    : QObject(parent), m_sources(std::move(sources)), m_hop(std::make_shared<MainThreadHop>(this)),
      m_worker(std::make_unique<SerialWorker>())
{
    m_changeSettle.setSingleShot(true);
    m_changeSettle.setInterval(200);
    connect(&m_changeSettle, &QTimer::timeout, this, [this] { refresh(); });
    if (m_sources)
        m_listener = m_sources->addListener([hop = m_hop, self = QPointer<CalendarSourcesModel>(this)] {
            hop->post([self] {
                if (self) self->m_changeSettle.start();
            });
        });
    refresh();
}

CalendarSourcesModel::~CalendarSourcesModel()
{
    if (m_sources && m_listener >= 0) m_sources->removeListener(m_listener);
    m_hop->close();
    m_worker.reset();
}

QString CalendarSourcesModel::ageText(Date then, Date now)
{
    const double seconds = std::max(0.0, now - then);
    if (seconds < 60) return QStringLiteral("たった今");
    if (seconds < 3600) return QStringLiteral("%1 分前").arg(static_cast<int>(seconds / 60));
    if (seconds < 48 * 3600) return QStringLiteral("%1 時間前").arg(static_cast<int>(seconds / 3600));
    return QStringLiteral("%1 日前").arg(static_cast<int>(seconds / 86400));
}

CalendarSourcesModel::Row CalendarSourcesModel::rowOf(const CalendarSourceInfo& source, Date now)
{
    Row row;
    row.id = QString::fromStdString(source.id);
    row.name = QString::fromStdString(source.name);
    row.kind = QString::fromUtf8(calendarSourceKindName(source.kind));
    QStringList detail;
    detail << (source.eventCount ? QStringLiteral("%1 件").arg(*source.eventCount) : QStringLiteral("未読み込み"));
    detail << (source.lastUpdate ? QStringLiteral("最終更新 %1").arg(ageText(*source.lastUpdate, now))
                                 : QStringLiteral("まだ読み込んでいません"));
    row.detail = detail.join(QStringLiteral("・"));
    row.problem = QString::fromStdString(source.problem);
    row.enabled = source.enabled;
    row.removable = source.kind == CalendarSourceKind::subscription || source.kind == CalendarSourceKind::linkedFile;
    return row;
}

void CalendarSourcesModel::refresh(Done done)
{
    if (!m_sources) {
        if (done) done();
        return;
    }
    runOffMain<std::vector<CalendarSourceInfo>>(
        *m_worker, m_hop, [sources = m_sources](std::stop_token) { return sources->sources(); },
        [this, done = std::move(done)](std::vector<CalendarSourceInfo> sources) {
            std::vector<Row> rows;
            const Date now = currentDate();
            for (const auto& source : sources)
                rows.push_back(rowOf(source, now));
            assignObserved(this, m_rows, std::move(rows), &CalendarSourcesModel::rowsChanged);
            if (done) done();
        });
}

void CalendarSourcesModel::setMessage(const QString& message, bool problem)
{
    if (message == m_message && problem == m_messageIsProblem) return;
    m_message = message;
    m_messageIsProblem = problem;
    Q_EMIT messageChanged();
}

void CalendarSourcesModel::act(std::function<Expected<void, std::string>()> action, QString success, Done done)
{
    if (!m_sources) {
        setMessage(QStringLiteral("カレンダーを読み込む準備ができていません。アプリを起動し直してください。"), true);
        if (done) done();
        return;
    }
    runOffMain<Expected<void, std::string>>(
        *m_worker, m_hop, [action = std::move(action)](std::stop_token) { return action(); },
        [this, success = std::move(success), done = std::move(done)](Expected<void, std::string> outcome) mutable {
            if (!outcome)
                setMessage(QString::fromStdString(outcome.error()), true);
            else
                setMessage(success, false);
            refresh(std::move(done));
        });
}

void CalendarSourcesModel::setEnabled(const QString& id, bool enabled, Done done)
{
    act(
        [sources = m_sources, id = id.toStdString(), enabled]() -> Expected<void, std::string> {
            sources->setEnabled(id, enabled);
            return {};
        },
        QString(), std::move(done));
}

void CalendarSourcesModel::importFile(const QString& file, Done done)
{
    act([sources = m_sources, file = pathOf(file)] { return sources->importFile(file); },
        QStringLiteral("%1 を取り込みました。").arg(QString::fromStdString(pathOf(file).filename().string())),
        std::move(done));
}

void CalendarSourcesModel::linkFile(const QString& file, Done done)
{
    act([sources = m_sources, file = pathOf(file)] { return sources->linkFile(file); },
        QStringLiteral("%1 をリンクしました。ファイルを書き換えると予定にも反映されます。")
            .arg(QString::fromStdString(pathOf(file).filename().string())),
        std::move(done));
}

void CalendarSourcesModel::addSubscription(const QString& address, Done done)
{
    act([sources = m_sources, address = address.trimmed().toStdString()] { return sources->addSubscription(address); },
        QStringLiteral("購読を追加しました。読み込みが終わると予定が表示されます。"), std::move(done));
}

void CalendarSourcesModel::remove(const QString& id, Done done)
{
    act(
        [sources = m_sources, id = id.toStdString()]() -> Expected<void, std::string> {
            sources->remove(id);
            return {};
        },
        QStringLiteral("削除しました。"), std::move(done));
}

void CalendarSourcesModel::refreshSubscriptions()
{
    if (m_sources) m_sources->refreshSubscriptions();
}

} // namespace tc
