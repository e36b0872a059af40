#include "TranscriptionUI/presentation/ReadingPosition.h"

#include "TranscriptionUI/presentation/ObservedValue.h"

#include <QTimer>

namespace tc {

ReadingPosition::ReadingPosition(std::chrono::milliseconds highlightDuration) : m_highlightDuration(highlightDuration)
{}

void ReadingPosition::setFollowingLatest(bool value)
{
    assignObserved(this, m_isFollowingLatest, value, &ReadingPosition::isFollowingLatestChanged);
    if (value) assignObserved(this, m_unreadCount, std::int64_t{0}, &ReadingPosition::unreadCountChanged);
}

void ReadingPosition::lineArrived()
{
    if (m_isFollowingLatest) return;
    ++m_unreadCount;
    Q_EMIT unreadCountChanged();
}

void ReadingPosition::setPendingScrollTarget(std::optional<Uuid> target)
{
    assignObserved(this, m_pendingScrollTarget, std::move(target), &ReadingPosition::pendingScrollTargetChanged);
}

void ReadingPosition::focusLine(const Uuid& id)
{
    assignObserved(this, m_isFollowingLatest, false, &ReadingPosition::isFollowingLatestChanged);
    assignObserved(this, m_highlightedLineID, std::optional<Uuid>{id}, &ReadingPosition::highlightedLineIDChanged);
    assignObserved(this, m_pendingScrollTarget, std::optional<Uuid>{id}, &ReadingPosition::pendingScrollTargetChanged);
    QTimer::singleShot(m_highlightDuration, this, [this, id] {
        if (m_highlightedLineID == id)
            assignObserved(this, m_highlightedLineID, std::optional<Uuid>{},
                           &ReadingPosition::highlightedLineIDChanged);
    });
}

void ReadingPosition::reset()
{
    assignObserved(this, m_isFollowingLatest, true, &ReadingPosition::isFollowingLatestChanged);
    assignObserved(this, m_unreadCount, std::int64_t{0}, &ReadingPosition::unreadCountChanged);
    assignObserved(this, m_highlightedLineID, std::optional<Uuid>{}, &ReadingPosition::highlightedLineIDChanged);
    assignObserved(this, m_pendingScrollTarget, std::optional<Uuid>{}, &ReadingPosition::pendingScrollTargetChanged);
}

} // namespace tc
