#include "TranscriptionInfrastructure/history/HistorySearchIndex.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <numeric>

namespace tc {

void HistorySearchIndex::appendTo(Session& session, const FinalizedLine& line)
{
    session.lineStarts.push_back(static_cast<std::uint32_t>(session.folded.size()));
    session.folded += foldForSearch(line.text);
    session.folded += '\0';
    session.lines.push_back({line.id, line.text, line.time});
}

HistorySearchIndex::Session& HistorySearchIndex::sessionLocked(const Uuid& id, Date startedAt)
{
    const auto found = std::find_if(m_sessions.begin(), m_sessions.end(), [&](const auto& s) { return s->id == id; });
    if (found != m_sessions.end()) return **found;
    return *m_sessions.emplace_back(std::make_shared<Session>(Session{id, startedAt, {}, {}, {}}));
}

void HistorySearchIndex::replaceAll(const std::vector<TranscriptSession>& sessions)
{
    // Folding happens outside the lock so that searches keep answering from the old state meanwhile.
    std::vector<std::shared_ptr<Session>> built;
    built.reserve(sessions.size());
    for (const auto& source : sessions) {
        Session session{source.id, source.startedAt, {}, {}, {}};
        const std::size_t bytes =
            std::accumulate(source.lines.begin(), source.lines.end(), std::size_t{0},
                            [](std::size_t n, const FinalizedLine& l) { return n + l.text.size() + 1; });
        session.folded.reserve(bytes);
        session.lineStarts.reserve(source.lines.size());
        session.lines.reserve(source.lines.size());
        for (const auto& line : source.lines)
            appendTo(session, line);
        built.push_back(std::make_shared<Session>(std::move(session)));
    }
    std::unique_lock lock(m_mutex);
    m_sessions = std::move(built);
}

void HistorySearchIndex::appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line)
{
    std::unique_lock lock(m_mutex);
    appendTo(sessionLocked(sessionId, sessionStartedAt), line);
}

void HistorySearchIndex::removeSession(const Uuid& sessionId)
{
    std::unique_lock lock(m_mutex);
    std::erase_if(m_sessions, [&](const auto& s) { return s->id == sessionId; });
}

std::optional<HistorySearchResults> HistorySearchIndex::search(std::string_view query, std::stop_token stop,
                                                               std::size_t limit) const
{
    const std::string needle = foldSearchQuery(query);
    HistorySearchResults results;
    if (needle.empty()) return results;

    std::vector<std::shared_ptr<const Session>> order;
    {
        std::shared_lock lock(m_mutex);
        order.assign(m_sessions.begin(), m_sessions.end());
    }
    // A session's start never changes, so the order holds without the lock.
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a->startedAt > b->startedAt; });

    for (const auto& session : order) {
        if (stop.stop_requested()) return std::nullopt;
        std::shared_lock lock(m_mutex);
        const char* const base = session->folded.data();
        const std::size_t size = session->folded.size();
        HistorySearchSessionHits* hits = nullptr;
        std::size_t from = 0;
        while (from < size) {
            const void* found = ::memmem(base + from, size - from, needle.data(), needle.size());
            if (!found) break;
            const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - base);
            const auto lineIndex =
                static_cast<std::size_t>(std::upper_bound(session->lineStarts.begin(), session->lineStarts.end(), at) -
                                         session->lineStarts.begin() - 1);
            const std::size_t lineStart = session->lineStarts[lineIndex];
            const std::size_t lineEnd =
                lineIndex + 1 < session->lineStarts.size() ? session->lineStarts[lineIndex + 1] - 1 : size - 1;
            ++results.matchedLines;
            from = lineEnd + 1;
            if (results.matchedLines > limit) {
                results.truncated = true;
                continue;
            }
            const Line& line = session->lines[lineIndex];
            // Only the lines shown pay for the map back to the original text.
            const auto folded = foldForSearchWithOrigins(line.text);
            HistorySearchHit hit{line.id, line.text, line.time, {}};
            for (std::size_t pos = at - lineStart; pos + needle.size() <= folded.text.size();) {
                const auto next = folded.text.find(needle, pos);
                if (next == std::string::npos) break;
                hit.ranges.push_back(folded.originalRange(next, next + needle.size()));
                pos = next + needle.size();
            }
            if (!hits)
                hits = &results.sessions.emplace_back(HistorySearchSessionHits{session->id, session->startedAt, {}});
            hits->lines.push_back(std::move(hit));
        }
    }
    return results;
}

std::size_t HistorySearchIndex::sessionCount() const
{
    std::shared_lock lock(m_mutex);
    return m_sessions.size();
}

std::size_t HistorySearchIndex::lineCount() const
{
    std::shared_lock lock(m_mutex);
    std::size_t lines = 0;
    for (const auto& session : m_sessions)
        lines += session->lines.size();
    return lines;
}

std::size_t HistorySearchIndex::memoryBytes() const
{
    std::shared_lock lock(m_mutex);
    std::size_t bytes = m_sessions.capacity() * sizeof(std::shared_ptr<Session>);
    for (const auto& pointer : m_sessions) {
        const Session& session = *pointer;
        bytes += sizeof(Session);
        bytes += session.folded.capacity() + session.lineStarts.capacity() * sizeof(std::uint32_t) +
                 session.lines.capacity() * sizeof(Line);
        for (const auto& line : session.lines)
            if (line.text.capacity() > 15) bytes += line.text.capacity() + 1;
    }
    return bytes;
}

} // namespace tc
