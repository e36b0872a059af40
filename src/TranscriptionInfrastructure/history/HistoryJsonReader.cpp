#include "TranscriptionInfrastructure/history/HistoryJsonReader.h"

#include "TranscriptionDomain/Utf8.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tc {

namespace {

constexpr bool isUuidHyphenPosition(std::size_t i)
{
    return i == 8 || i == 13 || i == 18 || i == 23;
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

} // namespace

HistoryJsonReader::HistoryJsonReader(std::string_view bytes) : m_pos(bytes.data()), m_end(bytes.data() + bytes.size())
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") m_pos += 3;
}

bool HistoryJsonReader::readStore(std::vector<TranscriptSession>& sessions)
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

bool HistoryJsonReader::readLegacy(std::vector<FinalizedLine>& lines)
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

bool HistoryJsonReader::readSession(TranscriptSession& session)
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

bool HistoryJsonReader::readLines(std::vector<FinalizedLine>& lines)
{
    return readArray([&] {
        lines.emplace_back();
        return readLine(lines.back());
    });
}

bool HistoryJsonReader::readLine(FinalizedLine& line)
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

bool HistoryJsonReader::readOptionalNumber(std::optional<double>& value, int depth)
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

bool HistoryJsonReader::readSpeaker(std::optional<SpeakerLabel>& speaker, int depth)
{
    speaker.reset();
    skipWhitespace();
    if (m_pos >= m_end || *m_pos != '"') return skipValue(depth);
    m_scratch.clear();
    if (!readString(m_scratch)) return false;
    speaker = speakerLabelFromKey(m_scratch);
    return true;
}

bool HistoryJsonReader::readMemberKey()
{
    skipWhitespace();
    m_key.clear();
    if (!readString(m_key)) return false;
    skipWhitespace();
    return consume(':');
}

template <class OnMember>
bool HistoryJsonReader::readObject(OnMember onMember)
{
    skipWhitespace();
    if (!consume('{')) return false;
    skipWhitespace();
    if (consume('}')) return true;
    for (;;) {
        if (!readMemberKey()) return false;
        // The member reader may reuse m_key for nested objects.
        const std::string key = m_key;
        if (!onMember(std::string_view(key))) return false;
        skipWhitespace();
        if (consume(',')) continue;
        return consume('}');
    }
}

template <class OnElement>
bool HistoryJsonReader::readArray(OnElement onElement)
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

bool HistoryJsonReader::readUuid(Uuid& id)
{
    skipWhitespace();
    m_scratch.clear();
    if (!readString(m_scratch)) return false;
    const auto parsed = parseUuid(m_scratch);
    if (!parsed) return false;
    id = *parsed;
    return true;
}

bool HistoryJsonReader::readString(std::string& out)
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
                Utf8::wellFormedLength(std::string_view(m_pos, static_cast<std::size_t>(m_end - m_pos)), 0);
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

bool HistoryJsonReader::readEscape(std::string& out)
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
    Utf8::append(out, codePoint);
    return true;
}

bool HistoryJsonReader::readHex4(std::uint32_t& value)
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

bool HistoryJsonReader::scanNumber(const char*& start, bool& integral)
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

bool HistoryJsonReader::readNumber(double& value)
{
    const char* start = nullptr;
    bool integral = false;
    if (!scanNumber(start, integral)) return false;
    const auto [end, error] = std::from_chars(start, m_pos, value);
    return error == std::errc() && end == m_pos;
}

bool HistoryJsonReader::readInteger(std::int64_t& value)
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

bool HistoryJsonReader::skipDigits()
{
    const char* start = m_pos;
    while (m_pos < m_end && *m_pos >= '0' && *m_pos <= '9')
        ++m_pos;
    return m_pos != start;
}

bool HistoryJsonReader::skipValue(int depth)
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

bool HistoryJsonReader::consumeLiteral(std::string_view literal)
{
    if (static_cast<std::size_t>(m_end - m_pos) < literal.size() ||
        std::memcmp(m_pos, literal.data(), literal.size()) != 0)
        return false;
    m_pos += literal.size();
    return true;
}

bool HistoryJsonReader::consume(char c)
{
    if (m_pos < m_end && *m_pos == c) {
        ++m_pos;
        return true;
    }
    return false;
}

void HistoryJsonReader::skipWhitespace()
{
    while (m_pos < m_end && (*m_pos == ' ' || *m_pos == '\n' || *m_pos == '\r' || *m_pos == '\t'))
        ++m_pos;
}

bool HistoryJsonReader::atEnd()
{
    skipWhitespace();
    return m_pos == m_end;
}

} // namespace tc
