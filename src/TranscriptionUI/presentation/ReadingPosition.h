#pragma once

#include "TranscriptionDomain/Uuid.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <optional>

namespace tc {

// Where the reader is in the live transcript: following the newest line or reading back (counting the lines
// that arrive meanwhile), the line the window should scroll to, and the line highlighted for a while after a
// citation pointed at it. Main thread only.
class ReadingPosition : public QObject {
    Q_OBJECT
public:
    explicit ReadingPosition(std::chrono::milliseconds highlightDuration);

    bool isFollowingLatest() const { return m_isFollowingLatest; }
    // Following again clears the unread count.
    void setFollowingLatest(bool value);
    std::int64_t unreadCount() const { return m_unreadCount; }
    // A new line arrived: counted as unread unless following.
    void lineArrived();
    const std::optional<Uuid>& pendingScrollTarget() const { return m_pendingScrollTarget; }
    void setPendingScrollTarget(std::optional<Uuid> target);
    const std::optional<Uuid>& highlightedLineID() const { return m_highlightedLineID; }
    // Highlights the line for the highlight duration and asks for a scroll to it; stops following.
    void focusLine(const Uuid& id);
    // Following, nothing unread, highlighted or pending.
    void reset();

signals:
    void isFollowingLatestChanged();
    void unreadCountChanged();
    void pendingScrollTargetChanged();
    void highlightedLineIDChanged();

private:
    std::chrono::milliseconds m_highlightDuration;
    bool m_isFollowingLatest = true;
    std::int64_t m_unreadCount = 0;
    std::optional<Uuid> m_pendingScrollTarget;
    std::optional<Uuid> m_highlightedLineID;
};

} // namespace tc
