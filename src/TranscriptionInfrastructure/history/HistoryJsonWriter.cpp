#include "TranscriptionInfrastructure/history/HistoryJsonWriter.h"

#include "TranscriptionDomain/Utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tc {

namespace {

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
            if (const auto length = Utf8::wellFormedLength(text, pos)) {
                pos += length;
                continue;
            }
            flush();
            out.append("\xEF\xBF\xBD");
            pos += Utf8::decode(text, pos).length;
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

} // namespace

std::string HistoryJsonWriter::encodeStore(const std::vector<TranscriptSession>& sessions,
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

} // namespace tc
