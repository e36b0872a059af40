#pragma once

#include "TranscriptionDomain/FinalizedLine.h"

#include <QAbstractListModel>

#include <optional>
#include <vector>

namespace tc {

// Finalized lines as a list for a QListView: the live transcript or the lines of a browsed event. Lines are
// appended one insert at a time; only a list that is not a continuation of the shown one resets the model.
// Main thread only.
class TranscriptLineListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // speakerRole: "自分", "相手" or "重複", or an empty string for a line without a label.
    enum Role { timeTextRole = Qt::UserRole + 1, highlightedRole, lineIDRole, speakerRole };

    explicit TranscriptLineListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const std::vector<FinalizedLine>& lines() const { return m_lines; }
    void append(const FinalizedLine& line);
    // Shows these lines: appends what follows the shown ones, or resets when they are not a continuation.
    void sync(const std::vector<FinalizedLine>& lines);
    void reset(std::vector<FinalizedLine> lines);
    // The row of a line, searching from the newest.
    std::optional<int> rowOf(const Uuid& id) const;
    // Marks at most one line as highlighted.
    void setHighlighted(const std::optional<Uuid>& id);
    bool isHighlighted(int row) const;
    // The time as the window shows it, local time HH:mm:ss.
    static QString formatTime(Date time);

private:
    std::vector<FinalizedLine> m_lines;
    std::optional<Uuid> m_highlighted;
};

} // namespace tc
