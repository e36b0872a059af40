#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/Uuid.h"

#include <QObject>

#include <optional>
#include <string>
#include <vector>

namespace tc {

// The current session as the window shows it: its id and start, its finalized lines and the volatile text still
// being recognised. Each change signal fires only when the value really changed. Main thread only.
class SessionTranscript : public QObject {
    Q_OBJECT
public:
    SessionTranscript(Uuid sessionID, Date startedAt);

    const std::vector<FinalizedLine>& lines() const { return m_lines; }
    const std::string& volatileText() const { return m_volatileText; }
    const Uuid& sessionID() const { return m_sessionID; }
    Date startedAt() const { return m_startedAt; }
    // A line of the session; nothing when it is not (or no longer) there.
    std::optional<FinalizedLine> line(const Uuid& id) const;

    void appendLine(FinalizedLine line);
    // True when the text changed.
    bool setVolatileText(std::string text);
    void clearLines();
    // A new session with no lines of its own yet; signals sessionChanged even for the same values.
    void beginSession(Uuid sessionID, Date startedAt);

signals:
    void linesChanged();
    void volatileTextChanged();
    void sessionChanged();

private:
    std::vector<FinalizedLine> m_lines;
    std::string m_volatileText;
    Uuid m_sessionID;
    Date m_startedAt = 0;
};

} // namespace tc
