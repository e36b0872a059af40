#pragma once

#include "TranscriptionApplication/HistorySearchResults.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/SearchTextFolding.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// The whole history in folded form, so that each keystroke of a search is one pass over prepared bytes.
// Thread-safe: any thread may call any member. Searches run side by side and hold the lock one session at a time,
// so a change (e.g. a line appended on the UI thread) waits at most for one session's scan, never a whole search.
class HistorySearchIndex {
public:
    static constexpr std::size_t kDefaultResultLimit = 500;

    // Drops what the index held and takes these sessions (e.g. after loading the history).
    void replaceAll(const std::vector<TranscriptSession>& sessions);
    // Adds one line at the end of its session, creating the session when it is new; costs one line's folding.
    void appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line);
    // Forgets a session; an unknown id is fine.
    void removeSession(const Uuid& sessionId);

    // Lines whose folded text holds the folded query, at most `limit` lines; nothing when stop was requested before
    // the search ended (checked between sessions). A blank query matches nothing. Meant for a worker thread.
    std::optional<HistorySearchResults> search(std::string_view query, std::stop_token stop = {},
                                               std::size_t limit = kDefaultResultLimit) const;

    std::size_t sessionCount() const;
    std::size_t lineCount() const;
    // Bytes the index holds on the heap, roughly.
    std::size_t memoryBytes() const;

private:
    struct Line {
        Uuid id;
        std::string text;
        Date time = 0;
    };
    struct Session {
        Uuid id;
        Date startedAt = 0;
        // The folded lines, each followed by a NUL so no match spans two lines.
        std::string folded;
        // Where each line starts in folded.
        std::vector<std::uint32_t> lineStarts;
        std::vector<Line> lines;
    };
    static void appendTo(Session& session, const FinalizedLine& line);
    Session& sessionLocked(const Uuid& id, Date startedAt);

    mutable std::shared_mutex m_mutex;
    // Shared so that a search can go on over a session another thread removes meanwhile.
    std::vector<std::shared_ptr<Session>> m_sessions;
};

} // namespace tc
