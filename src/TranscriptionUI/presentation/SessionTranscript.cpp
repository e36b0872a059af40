#include "TranscriptionUI/presentation/SessionTranscript.h"

#include "TranscriptionUI/presentation/ObservedValue.h"

#include <algorithm>
#include <utility>

namespace tc {

SessionTranscript::SessionTranscript(Uuid sessionID, Date startedAt)
    : m_sessionID(std::move(sessionID)), m_startedAt(startedAt)
{}

std::optional<FinalizedLine> SessionTranscript::line(const Uuid& id) const
{
    const auto it = std::find_if(m_lines.begin(), m_lines.end(), [&](const FinalizedLine& l) { return l.id == id; });
    if (it == m_lines.end()) return std::nullopt;
    return *it;
}

void SessionTranscript::appendLine(FinalizedLine line)
{
    m_lines.push_back(std::move(line));
    Q_EMIT linesChanged();
}

bool SessionTranscript::setVolatileText(std::string text)
{
    return assignObserved(this, m_volatileText, std::move(text), &SessionTranscript::volatileTextChanged);
}

void SessionTranscript::clearLines()
{
    if (m_lines.empty()) return;
    m_lines.clear();
    Q_EMIT linesChanged();
}

void SessionTranscript::beginSession(Uuid sessionID, Date startedAt)
{
    m_sessionID = std::move(sessionID);
    m_startedAt = startedAt;
    Q_EMIT sessionChanged();
}

} // namespace tc
