#include "TranscriptionUI/window/TranscriptLineListModel.h"

#include <QDateTime>

#include <cmath>

namespace tc {

TranscriptLineListModel::TranscriptLineListModel(QObject* parent) : QAbstractListModel(parent) {}

int TranscriptLineListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

QVariant TranscriptLineListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const FinalizedLine& line = m_lines[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(line.text);
    case Qt::AccessibleTextRole:
        if (!line.speaker) return QString::fromStdString(line.text);
        return QString::fromUtf8(speakerLabelText(*line.speaker)) + QStringLiteral("：") +
               QString::fromStdString(line.text);
    case speakerRole: return line.speaker ? QString::fromUtf8(speakerLabelText(*line.speaker)) : QString();
    case timeTextRole: return formatTime(line.time);
    case highlightedRole: return m_highlighted && *m_highlighted == line.id;
    case lineIDRole: return QString::fromStdString(line.id.toString());
    default: return {};
    }
}

void TranscriptLineListModel::append(const FinalizedLine& line)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_lines.push_back(line);
    endInsertRows();
}

void TranscriptLineListModel::sync(const std::vector<FinalizedLine>& lines)
{
    // Lines are only ever appended, except when everything is cleared; the last shown line tells which.
    const std::size_t shown = m_lines.size();
    const bool continues = shown <= lines.size() && (shown == 0 || lines[shown - 1].id == m_lines.back().id);
    if (!continues) {
        reset(lines);
        return;
    }
    if (lines.size() == shown) return;
    beginInsertRows({}, static_cast<int>(shown), static_cast<int>(lines.size()) - 1);
    m_lines.insert(m_lines.end(), lines.begin() + static_cast<std::ptrdiff_t>(shown), lines.end());
    endInsertRows();
}

void TranscriptLineListModel::reset(std::vector<FinalizedLine> lines)
{
    beginResetModel();
    m_lines = std::move(lines);
    endResetModel();
}

std::optional<int> TranscriptLineListModel::rowOf(const Uuid& id) const
{
    for (std::size_t i = m_lines.size(); i-- > 0;)
        if (m_lines[i].id == id) return static_cast<int>(i);
    return std::nullopt;
}

void TranscriptLineListModel::setHighlighted(const std::optional<Uuid>& id)
{
    if (m_highlighted == id) return;
    const auto previous = m_highlighted ? rowOf(*m_highlighted) : std::nullopt;
    m_highlighted = id;
    const auto next = id ? rowOf(*id) : std::nullopt;
    for (const auto& row : {previous, next}) {
        if (!row) continue;
        const QModelIndex changed = index(*row);
        Q_EMIT dataChanged(changed, changed, {highlightedRole});
    }
}

bool TranscriptLineListModel::isHighlighted(int row) const
{
    return data(index(row), highlightedRole).toBool();
}

QString TranscriptLineListModel::formatTime(Date time)
{
    const auto ms = static_cast<qint64>(std::llround(unixSecondsFromDate(time) * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace tc
