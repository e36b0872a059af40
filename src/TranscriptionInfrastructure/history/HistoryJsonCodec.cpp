#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"

#include "TranscriptionInfrastructure/files/Utf8Sanitizer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tc {

namespace {

// ---- Writing ----

// Length of the well-formed character at `pos` (0 when ill-formed). Three-byte characters (all of kana and
// common kanji) are checked here; the rest goes to the general routine.
inline std::size_t wellFormedLength(std::string_view text, std::size_t pos)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
    if (text.size() - pos >= 3 && ((p[0] >= 0xE1 && p[0] <= 0xEC) || p[0] == 0xEE || p[0] == 0xEF) &&
        (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80)
        return 3;
    const auto sequence = Utf8Sanitizer::sequenceAt(text, pos);
    return sequence.wellFormed ? sequence.length : 0;
}

constexpr bool isUuidHyphenPosition(std::size_t i)
{
    return i == 8 || i == 13 || i == 18 || i == 23;
}

// The same form as Uuid::toString, written in place: a history holds two identifiers per line.
void appendUuid(std::string& out, const Uuid& id)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    char text[38];
    text[0] = '"';
    std::size_t at = 1;
    for (std::size_t i = 0; i < 16; ++i) {
        if (isUuidHyphenPosition(at - 1)) text[at++] = '-';
        text[at++] = hex[id.bytes()[i] >> 4];
        text[at++] = hex[id.bytes()[i] & 0x0F];
    }
    text[37] = '"';
    out.append(text, sizeof text);
}

// Uuid::fromString's rules (8-4-4-4-12 hexadecimal digits, either case) with a table instead of branches.
std::optional<Uuid> parseUuid(std::string_view text)
{
    static constexpr auto values = [] {
        std::array<std::int8_t, 256> table{};
        table.fill(-1);
        for (int i = 0; i < 10; ++i)
            table[static_cast<std::size_t>('0' + i)] = static_cast<std::int8_t>(i);
        for (int i = 0; i < 6; ++i) {
            table[static_cast<std::size_t>('a' + i)] = static_cast<std::int8_t>(10 + i);
            table[static_cast<std::size_t>('A' + i)] = static_cast<std::int8_t>(10 + i);
        }
        return table;
    }();
    if (text.size() != 36) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (isUuidHyphenPosition(at)) {
            if (text[at] != '-') return std::nullopt;
            ++at;
        }
        const int high = values[static_cast<unsigned char>(text[at])];
        const int low = values[static_cast<unsigned char>(text[at + 1])];
        if ((high | low) < 0) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
        at += 2;
    }
    return Uuid(bytes);
}

void appendEscaped(std::string& out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::size_t runStart = 0;
    std::size_t pos = 0;
    const auto flush = [&] { out.append(text.data() + runStart, pos - runStart); };
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
            ++pos;
            continue;
        }
        if (byte >= 0x80) {
            if (const auto length = wellFormedLength(text, pos)) {
                pos += length;
                continue;
            }
            flush();
            out.append("\xEF\xBF\xBD");
            pos += Utf8Sanitizer::sequenceAt(text, pos).length;
            runStart = pos;
            continue;
        }
        flush();
        switch (byte) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            out.append("\\u00");
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
        ++pos;
        runStart = pos;
    }
    flush();
}

void appendString(std::string& out, std::string_view text)
{
    out.push_back('"');
    appendEscaped(out, text);
    out.push_back('"');
}

void appendDate(std::string& out, double value)
{
    // A NaN date would be written as null and make the whole file unreadable.
    if (!std::isfinite(value)) value = 0;
    std::array<char, 64> buffer{};
    // The shortest text that reads back as the same double, in the exact form nlohmann writes.
    const char* end = nlohmann::detail::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
}

// ---- Reading ----

// A strict JSON reader that fills the records directly. Every method returns false on the first error.
class Reader {
public:
    explicit Reader(std::string_view bytes) : m_pos(bytes.data()), m_end(bytes.data() + bytes.size())
    {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") m_pos += 3;
    }

    bool readStore(std::vector<TranscriptSession>& sessions)
    {
        bool haveVersion = false;
        bool haveSessions = false;
        const bool ok = readObject([&](std::string_view key) {
            if (key == "version") {
                std::int64_t version = 0;
                return haveVersion = readInteger(version);
            }
            if (key == "sessions") {
                sessions.clear();
                return haveSessions = readArray([&] {
                           sessions.emplace_back();
                           return readSession(sessions.back());
                       });
            }
            return skipValue(0);
        });
        return ok && haveVersion && haveSessions && atEnd();
    }

    bool readLegacy(std::vector<FinalizedLine>& lines)
    {
        bool haveLines = false;
        const bool ok = readObject([&](std::string_view key) {
            if (key == "lines") {
                lines.clear();
                return haveLines = readLines(lines);
            }
            return skipValue(0);
        });
        return ok && haveLines && atEnd();
    }

    // Reads what it can of a current-layout file: a line or session with a wrongly typed or missing field is
    // dropped alone, and where the text stops being JSON at all, everything complete before that point is kept.
    // False when there is no "sessions" array to read from.
    bool salvageStore(std::vector<TranscriptSession>& sessions, HistoryJsonCodec::Salvage& report)
    {
        skipWhitespace();
        if (!consume('{')) return false;
        bool haveSessions = false;
        skipWhitespace();
        if (consume('}')) return false;
        for (;;) {
            skipWhitespace();
            m_key.clear();
            if (!readString(m_key)) break;
            skipWhitespace();
            if (!consume(':')) break;
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

private:
    bool salvageSessions(std::vector<TranscriptSession>& sessions, HistoryJsonCodec::Salvage& report)
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

    // False when the text breaks off inside the session; `usable` tells whether what was read is worth keeping.
    bool salvageSession(TranscriptSession& session, bool& usable, HistoryJsonCodec::Salvage& report)
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
                skipWhitespace();
                m_key.clear();
                if (!readString(m_key)) break;
                skipWhitespace();
                if (!consume(':')) break;
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

    bool salvageLines(std::vector<FinalizedLine>& lines, HistoryJsonCodec::Salvage& report)
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

    bool salvageLine(FinalizedLine& line, bool& complete)
    {
        bool haveId = false;
        bool haveText = false;
        bool haveTime = false;
        consume('{');
        skipWhitespace();
        if (consume('}')) return true;
        for (;;) {
            skipWhitespace();
            m_key.clear();
            if (!readString(m_key)) return false;
            skipWhitespace();
            if (!consume(':')) return false;
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

    // skipValue, except that a string with bytes that are not UTF-8 or bad escapes is skipped too: a damaged text
    // loses its own line, not the rest of the file.
    bool skipLenient(int depth)
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

public:
private:
    static constexpr int kMaxDepth = 512;

    bool readSession(TranscriptSession& session)
    {
        bool haveId = false;
        bool haveLines = false;
        bool haveStart = false;
        session.endedAt.reset();
        const bool ok = readObject([&](std::string_view key) {
            if (key == "id") return haveId = readUuid(session.id);
            if (key == "lines") {
                session.lines.clear();
                return haveLines = readLines(session.lines);
            }
            if (key == "startedAt") return haveStart = readNumber(session.startedAt);
            if (key == "endedAt") {
                skipWhitespace();
                if (consumeLiteral("null")) {
                    session.endedAt.reset();
                    return true;
                }
                double value = 0;
                if (!readNumber(value)) return false;
                session.endedAt = value;
                return true;
            }
            return skipValue(1);
        });
        return ok && haveId && haveLines && haveStart;
    }

    bool readLines(std::vector<FinalizedLine>& lines)
    {
        return readArray([&] {
            lines.emplace_back();
            return readLine(lines.back());
        });
    }

    bool readLine(FinalizedLine& line)
    {
        bool haveId = false;
        bool haveText = false;
        bool haveTime = false;
        const bool ok = readObject([&](std::string_view key) {
            if (key == "id") return haveId = readUuid(line.id);
            if (key == "text") {
                line.text.clear();
                return haveText = readString(line.text);
            }
            if (key == "time") return haveTime = readNumber(line.time);
            if (key == "start") return readOptionalNumber(line.start, 2);
            if (key == "end") return readOptionalNumber(line.end, 2);
            if (key == "speaker") return readSpeaker(line.speaker, 2);
            return skipValue(2);
        });
        return ok && haveId && haveText && haveTime;
    }

    // The optional keys of a line: a value of another type (null included) is stepped over and leaves the key
    // absent, as a reader that does not know the key would; only broken JSON fails.
    bool readOptionalNumber(std::optional<double>& value, int depth)
    {
        value.reset();
        skipWhitespace();
        if (m_pos < m_end && (*m_pos == '-' || (*m_pos >= '0' && *m_pos <= '9'))) {
            double number = 0;
            if (!readNumber(number)) return false;
            if (std::isfinite(number)) value = number;
            return true;
        }
        return skipValue(depth);
    }

    bool readSpeaker(std::optional<SpeakerLabel>& speaker, int depth)
    {
        speaker.reset();
        skipWhitespace();
        if (m_pos >= m_end || *m_pos != '"') return skipValue(depth);
        m_scratch.clear();
        if (!readString(m_scratch)) return false;
        speaker = speakerLabelFromKey(m_scratch);
        return true;
    }

    template <class OnMember>
    bool readObject(OnMember onMember)
    {
        skipWhitespace();
        if (!consume('{')) return false;
        skipWhitespace();
        if (consume('}')) return true;
        for (;;) {
            skipWhitespace();
            m_key.clear();
            if (!readString(m_key)) return false;
            skipWhitespace();
            if (!consume(':')) return false;
            // The member reader may reuse m_key for nested objects.
            const std::string key = m_key;
            if (!onMember(std::string_view(key))) return false;
            skipWhitespace();
            if (consume(',')) continue;
            return consume('}');
        }
    }

    template <class OnElement>
    bool readArray(OnElement onElement)
    {
        skipWhitespace();
        if (!consume('[')) return false;
        skipWhitespace();
        if (consume(']')) return true;
        for (;;) {
            if (!onElement()) return false;
            skipWhitespace();
            if (consume(',')) continue;
            return consume(']');
        }
    }

    bool readUuid(Uuid& id)
    {
        skipWhitespace();
        m_scratch.clear();
        if (!readString(m_scratch)) return false;
        const auto parsed = parseUuid(m_scratch);
        if (!parsed) return false;
        id = *parsed;
        return true;
    }

    bool readString(std::string& out)
    {
        skipWhitespace();
        if (!consume('"')) return false;
        const char* runStart = m_pos;
        while (m_pos < m_end) {
            const auto byte = static_cast<unsigned char>(*m_pos);
            if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
                ++m_pos;
                continue;
            }
            if (byte == '"') {
                out.append(runStart, m_pos);
                ++m_pos;
                return true;
            }
            if (byte >= 0x80) {
                const auto length =
                    wellFormedLength(std::string_view(m_pos, static_cast<std::size_t>(m_end - m_pos)), 0);
                if (length == 0) return false;
                m_pos += length;
                continue;
            }
            if (byte < 0x20) return false;
            out.append(runStart, m_pos);
            ++m_pos;
            if (!readEscape(out)) return false;
            runStart = m_pos;
        }
        return false;
    }

    bool readEscape(std::string& out)
    {
        if (m_pos >= m_end) return false;
        const char c = *m_pos++;
        switch (c) {
        case '"': out.push_back('"'); return true;
        case '\\': out.push_back('\\'); return true;
        case '/': out.push_back('/'); return true;
        case 'b': out.push_back('\b'); return true;
        case 'f': out.push_back('\f'); return true;
        case 'n': out.push_back('\n'); return true;
        case 'r': out.push_back('\r'); return true;
        case 't': out.push_back('\t'); return true;
        case 'u': break;
        default: return false;
        }
        std::uint32_t codePoint = 0;
        if (!readHex4(codePoint)) return false;
        if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) return false;
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
            std::uint32_t low = 0;
            if (m_end - m_pos < 2 || m_pos[0] != '\\' || m_pos[1] != 'u') return false;
            m_pos += 2;
            if (!readHex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, codePoint);
        return true;
    }

    bool readHex4(std::uint32_t& value)
    {
        if (m_end - m_pos < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *m_pos++;
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    static void appendUtf8(std::string& out, std::uint32_t cp)
    {
        const auto put = [&](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }

    // Scans a number by JSON's grammar; tells whether it had a fraction or an exponent.
    bool scanNumber(const char*& start, bool& integral)
    {
        skipWhitespace();
        start = m_pos;
        integral = true;
        consume('-');
        if (m_pos >= m_end) return false;
        if (*m_pos == '0') {
            ++m_pos;
        } else if (*m_pos >= '1' && *m_pos <= '9') {
            skipDigits();
        } else {
            return false;
        }
        if (consume('.')) {
            integral = false;
            if (!skipDigits()) return false;
        }
        if (m_pos < m_end && (*m_pos == 'e' || *m_pos == 'E')) {
            integral = false;
            ++m_pos;
            if (m_pos < m_end && (*m_pos == '+' || *m_pos == '-')) ++m_pos;
            if (!skipDigits()) return false;
        }
        return true;
    }

    bool readNumber(double& value)
    {
        const char* start = nullptr;
        bool integral = false;
        if (!scanNumber(start, integral)) return false;
        const auto [end, error] = std::from_chars(start, m_pos, value);
        return error == std::errc() && end == m_pos;
    }

    bool readInteger(std::int64_t& value)
    {
        const char* start = nullptr;
        bool integral = false;
        if (!scanNumber(start, integral)) return false;
        if (integral) {
            const auto [end, error] = std::from_chars(start, m_pos, value);
            return error == std::errc() && end == m_pos;
        }
        // 2.0 and 2e0 are whole numbers too.
        double number = 0;
        const auto [end, error] = std::from_chars(start, m_pos, number);
        if (error != std::errc() || end != m_pos || std::trunc(number) != number) return false;
        if (number < -9.2e18 || number > 9.2e18) return false;
        value = static_cast<std::int64_t>(number);
        return true;
    }

    bool skipDigits()
    {
        const char* start = m_pos;
        while (m_pos < m_end && *m_pos >= '0' && *m_pos <= '9')
            ++m_pos;
        return m_pos != start;
    }

    bool skipValue(int depth)
    {
        if (depth > kMaxDepth) return false;
        skipWhitespace();
        if (m_pos >= m_end) return false;
        switch (*m_pos) {
        case '{': return readObject([&](std::string_view) { return skipValue(depth + 1); });
        case '[': return readArray([&] { return skipValue(depth + 1); });
        case '"': {
            m_scratch.clear();
            return readString(m_scratch);
        }
        case 't': return consumeLiteral("true");
        case 'f': return consumeLiteral("false");
        case 'n': return consumeLiteral("null");
        default: {
            double ignored = 0;
            return readNumber(ignored);
        }
        }
    }

    bool consumeLiteral(std::string_view literal)
    {
        if (static_cast<std::size_t>(m_end - m_pos) < literal.size() ||
            std::memcmp(m_pos, literal.data(), literal.size()) != 0)
            return false;
        m_pos += literal.size();
        return true;
    }

    bool consume(char c)
    {
        if (m_pos < m_end && *m_pos == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    void skipWhitespace()
    {
        while (m_pos < m_end && (*m_pos == ' ' || *m_pos == '\n' || *m_pos == '\r' || *m_pos == '\t'))
            ++m_pos;
    }

    bool atEnd()
    {
        skipWhitespace();
        return m_pos == m_end;
    }

    const char* m_pos;
    const char* m_end;
    std::string m_key;
    std::string m_scratch;
};

} // namespace

std::string HistoryJsonCodec::encodeStore(const std::vector<TranscriptSession>& sessions,
                                          std::int64_t maxLinesPerSession)
{
    const auto cap = static_cast<std::size_t>(std::max<std::int64_t>(maxLinesPerSession, 0));
    std::size_t estimate = 64;
    for (const auto& session : sessions) {
        estimate += 160;
        const std::size_t first = session.lines.size() > cap ? session.lines.size() - cap : 0;
        for (std::size_t i = first; i < session.lines.size(); ++i)
            estimate += session.lines[i].text.size() + 96;
    }
    std::string out;
    out.reserve(estimate);

    out.append("{\"version\":2,\"sessions\":[");
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        const auto& session = sessions[s];
        if (s > 0) out.push_back(',');
        out.append("{\"id\":");
        appendUuid(out, session.id);
        out.append(",\"lines\":[");
        const std::size_t first = session.lines.size() > cap ? session.lines.size() - cap : 0;
        for (std::size_t i = first; i < session.lines.size(); ++i) {
            const auto& line = session.lines[i];
            if (i > first) out.push_back(',');
            out.append("{\"id\":");
            appendUuid(out, line.id);
            out.append(",\"text\":");
            appendString(out, line.text);
            out.append(",\"time\":");
            appendDate(out, line.time);
            // Left out when unknown, so older readers see the lines they always saw.
            if (line.start && std::isfinite(*line.start)) {
                out.append(",\"start\":");
                appendDate(out, *line.start);
            }
            if (line.end && std::isfinite(*line.end)) {
                out.append(",\"end\":");
                appendDate(out, *line.end);
            }
            if (line.speaker) {
                out.append(",\"speaker\":");
                appendString(out, speakerLabelKey(*line.speaker));
            }
            out.push_back('}');
        }
        out.append("],\"startedAt\":");
        appendDate(out, session.startedAt);
        if (session.endedAt) {
            out.append(",\"endedAt\":");
            appendDate(out, *session.endedAt);
        }
        out.push_back('}');
    }
    out.append("]}");
    return out;
}

std::optional<std::vector<TranscriptSession>> HistoryJsonCodec::decodeStore(std::string_view bytes)
{
    std::vector<TranscriptSession> sessions;
    Reader reader(bytes);
    if (!reader.readStore(sessions)) return std::nullopt;
    return sessions;
}

std::optional<HistoryJsonCodec::Salvage> HistoryJsonCodec::salvageStore(std::string_view bytes)
{
    Salvage salvage;
    Reader reader(bytes);
    if (!reader.salvageStore(salvage.sessions, salvage)) return std::nullopt;
    return salvage;
}

std::optional<std::vector<FinalizedLine>> HistoryJsonCodec::decodeLegacy(std::string_view bytes)
{
    std::vector<FinalizedLine> lines;
    Reader reader(bytes);
    if (!reader.readLegacy(lines)) return std::nullopt;
    return lines;
}

} // namespace tc
