#include "TranscriptionDomain/TranscriptExporter.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/SubtitleCueBuilder.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tc {

namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

// A text on one row: a line break inside would end the cue or the entry early.
std::string oneRow(std::string text)
{
    replaceAll(text, "\r\n", " ");
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// "-->" inside a cue's text would read as a timing line.
std::string cueSafe(std::string text)
{
    replaceAll(text, "-->", "→");
    return text;
}

std::string vttEscaped(std::string text)
{
    replaceAll(text, "&", "&amp;");
    replaceAll(text, "<", "&lt;");
    replaceAll(text, ">", "&gt;");
    return text;
}

// Milliseconds, rounded; cues of a line keep their order and a positive length after rounding.
std::int64_t milliseconds(double seconds)
{
    return std::llround(std::max(seconds, 0.0) * 1000.0);
}

template <class RowText>
std::string cueFile(const TranscriptExporter::Input& input, std::string header, bool numbered, char separator,
                    RowText rowText)
{
    std::string out = std::move(header);
    std::size_t number = 0;
    for (const auto& cue : SubtitleCueBuilder::build(input.lines, input.sessionStart)) {
        std::int64_t start = milliseconds(cue.start);
        std::int64_t end = milliseconds(cue.end);
        if (end <= start) end = start + 1;
        if (!out.empty()) out += '\n';
        if (numbered) out += std::to_string(++number) + '\n';
        out += TranscriptExporter::cueTime(static_cast<double>(start) / 1000.0, separator) + " --> " +
               TranscriptExporter::cueTime(static_cast<double>(end) / 1000.0, separator) + '\n';
        for (std::size_t r = 0; r < cue.rows.size(); ++r) {
            const std::string tag = r == 0 ? SubtitleCueBuilder::speakerTag(cue.speaker) : std::string{};
            out += rowText(tag + cue.rows[r]) + '\n';
        }
    }
    return out;
}

} // namespace

std::string TranscriptExporter::cueTime(double seconds, char millisecondSeparator)
{
    const std::int64_t total = milliseconds(seconds);
    char text[32] = {};
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", static_cast<long long>(total / 3'600'000),
                  static_cast<long long>(total / 60'000 % 60), static_cast<long long>(total / 1000 % 60),
                  millisecondSeparator, static_cast<long long>(total % 1000));
    return text;
}

std::string TranscriptExporter::write(TranscriptExportFormat format, const Input& input)
{
    switch (format) {
    case TranscriptExportFormat::markdown: return markdown(input);
    case TranscriptExportFormat::srt: return srt(input);
    case TranscriptExportFormat::webVtt: return webVtt(input);
    case TranscriptExportFormat::plainText: return plainText(input);
    }
    return {};
}

std::string TranscriptExporter::markdown(const Input& input)
{
    std::string text = "# 文字起こし\n\n出力日時: " + input.exportTimeText + "\n\n## 本文\n\n";
    for (const auto& line : input.lines) {
        const std::string time = input.timeOfDayText ? input.timeOfDayText(line.time) : std::string{};
        text += "- `" + time + "` " + SubtitleCueBuilder::speakerTag(line.speaker) + line.text + "\n";
    }
    text += "\n";
    return text;
}

std::string TranscriptExporter::srt(const Input& input)
{
    return cueFile(input, std::string{}, true, ',', [](const std::string& row) { return cueSafe(row); });
}

std::string TranscriptExporter::webVtt(const Input& input)
{
    return cueFile(input, "WEBVTT\n", false, '.', [](const std::string& row) { return vttEscaped(cueSafe(row)); });
}

std::string TranscriptExporter::plainText(const Input& input)
{
    std::string text;
    for (const auto& line : input.lines) {
        if (isBlankText(line.text)) continue;
        text += SubtitleCueBuilder::speakerTag(line.speaker) + oneRow(line.text) + "\n";
    }
    return text;
}

} // namespace tc
