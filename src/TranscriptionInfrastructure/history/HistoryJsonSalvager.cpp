#include "TranscriptionInfrastructure/history/HistoryJsonSalvager.h"

#include <cmath>

namespace tc {

bool HistoryJsonSalvager::salvageStore(std::vector<TranscriptSession>& sessions, HistoryJsonCodec::Salvage& report)
{
    skipWhitespace();
    if (!consume('{')) return false;
    bool haveSessions = false;
    skipWhitespace();
    if (consume('}')) return false;
    for (;;) {
        if (!readMemberKey()) break;
        if (m_key == "sessions") {
            haveSessions = true;
            if (!salvageSessions(sessions, report)) break;
        } else if (!skipLenient(1)) {
            break;
        }
        skipWhitespace();
        if (consume(',')) continue;
        if (consume('}') && atEnd()) return haveSessions;
        break;
    }
    report.cutShort = true;
    return haveSessions;
}

bool HistoryJsonSalvager::salvageSessions(std::vector<TranscriptSession>& sessions, HistoryJsonCodec::Salvage& report)
{
    skipWhitespace();
    if (!consume('[')) {
        ++report.droppedSessions;
        return skipLenient(1);
    }
    skipWhitespace();
    if (consume(']')) return true;
    for (;;) {
        skipWhitespace();
        if (m_pos < m_end && *m_pos == '{') {
            TranscriptSession session;
            bool usable = false;
            const bool whole = salvageSession(session, usable, report);
            if (usable)
                sessions.push_back(std::move(session));
            else
                ++report.droppedSessions;
            if (!whole) return false;
        } else {
            ++report.droppedSessions;
            if (!skipLenient(2)) return false;
        }
        skipWhitespace();
        if (consume(',')) continue;
        return consume(']');
    }
}

bool HistoryJsonSalvager::salvageSession(TranscriptSession& session, bool& usable, HistoryJsonCodec::Salvage& report)
{
    bool haveId = false;
    bool haveStart = false;
    bool whole = false;
    consume('{');
    skipWhitespace();
    if (consume('}')) {
        whole = true;
    } else {
        for (;;) {
            if (!readMemberKey()) break;
            const std::string key = m_key;
            const char* valueStart = m_pos;
            bool read = true;
            if (key == "id") {
                haveId = readUuid(session.id);
                read = haveId;
            } else if (key == "lines") {
                skipWhitespace();
                if (m_pos < m_end && *m_pos == '[') {
                    if (!salvageLines(session.lines, report)) break;
                } else {
                    read = false;
                }
            } else if (key == "startedAt") {
                haveStart = readNumber(session.startedAt);
                read = haveStart;
            } else if (key == "endedAt") {
                skipWhitespace();
                double value = 0;
                if (consumeLiteral("null")) {
                    session.endedAt.reset();
                } else if (readNumber(value)) {
                    session.endedAt = value;
                } else {
                    session.endedAt.reset();
                    read = false;
                }
            } else {
                read = skipLenient(2);
            }
            if (!read) {
                m_pos = valueStart;
                if (!skipLenient(2)) break;
            }
            skipWhitespace();
            if (consume(',')) continue;
            whole = consume('}');
            break;
        }
    }
    // A session whose own fields are damaged still holds the user's lines: it gets a new identity and starts
    // with its first line.
    if (!haveId) session.id = Uuid::random();
    if (!haveStart && !session.lines.empty()) {
        session.startedAt = session.lines.front().time;
        haveStart = true;
    }
    usable = haveStart && (haveId || !session.lines.empty());
    return whole;
}

bool HistoryJsonSalvager::salvageLines(std::vector<FinalizedLine>& lines, HistoryJsonCodec::Salvage& report)
{
    consume('[');
    skipWhitespace();
    if (consume(']')) return true;
    for (;;) {
        skipWhitespace();
        FinalizedLine line;
        bool complete = false;
        const bool whole = m_pos < m_end && *m_pos == '{' ? salvageLine(line, complete) : skipLenient(3);
        if (complete)
            lines.push_back(std::move(line));
        else
            ++report.droppedLines;
        if (!whole) return false;
        skipWhitespace();
        if (consume(',')) continue;
        return consume(']');
    }
}

bool HistoryJsonSalvager::salvageLine(FinalizedLine& line, bool& complete)
{
    bool haveId = false;
    bool haveText = false;
    bool haveTime = false;
    consume('{');
    skipWhitespace();
    if (consume('}')) return true;
    for (;;) {
        if (!readMemberKey()) return false;
        const char* valueStart = m_pos;
        bool read = false;
        if (m_key == "id") {
            read = haveId = readUuid(line.id);
        } else if (m_key == "text") {
            line.text.clear();
            read = haveText = readString(line.text);
        } else if (m_key == "time") {
            read = haveTime = readNumber(line.time);
        } else if (m_key == "start") {
            read = readOptionalNumber(line.start, 3);
        } else if (m_key == "end") {
            read = readOptionalNumber(line.end, 3);
        } else if (m_key == "speaker") {
            read = readSpeaker(line.speaker, 3);
        }
        if (!read) {
            m_pos = valueStart;
            if (!skipLenient(3)) return false;
        }
        skipWhitespace();
        if (consume(',')) continue;
        complete = haveId && haveText && haveTime;
        return consume('}');
    }
}

bool HistoryJsonSalvager::skipLenient(int depth)
{
    skipWhitespace();
    if (m_pos < m_end && (*m_pos == '-' || (*m_pos >= '0' && *m_pos <= '9'))) {
        // Grammar only: a number too large for a double is still just a number to step over.
        const char* start = nullptr;
        bool integral = false;
        return scanNumber(start, integral);
    }
    if (m_pos >= m_end || *m_pos != '"') return skipValue(depth);
    ++m_pos;
    while (m_pos < m_end) {
        const char c = *m_pos++;
        if (c == '"') return true;
        if (c == '\\') {
            if (m_pos >= m_end) return false;
            ++m_pos;
        }
    }
    return false;
}

} // namespace tc
