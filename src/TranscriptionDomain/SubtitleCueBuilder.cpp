#include "TranscriptionDomain/SubtitleCueBuilder.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/JapaneseLineBreaker.h"

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

bool finite(const std::optional<double>& value)
{
    return value && std::isfinite(*value);
}

} // namespace

std::string SubtitleCueBuilder::speakerTag(const std::optional<SpeakerLabel>& speaker)
{
    if (!speaker) return {};
    return "[" + std::string(speakerLabelText(*speaker)) + "] ";
}

std::vector<SubtitleCue> SubtitleCueBuilder::build(const std::vector<FinalizedLine>& lines, Date sessionStart)
{
    std::vector<SubtitleCue> cues;
    double previousEnd = 0;
    for (const auto& line : lines) {
        if (isBlankText(line.text)) continue;
        const std::string tag = speakerTag(line.speaker);
        // Every cue of the line carries the tag, so each cue's first row leaves room for it.
        const auto rows = JapaneseLineBreaker::breakIntoRows(line.text, kMaxColumns, JapaneseLineBreaker::columns(tag),
                                                             kMaxRowsPerCue);
        if (rows.empty()) continue;

        double start = 0;
        double end = 0;
        if (finite(line.start) && finite(line.end)) {
            start = *line.start;
            end = *line.end;
        } else {
            // Only the moment the line settled is known: it was being spoken just before.
            end = std::isfinite(line.time - sessionStart) ? line.time - sessionStart : previousEnd;
            const double speaking =
                std::clamp(static_cast<double>(JapaneseLineBreaker::characterCount(line.text)) * kSecondsPerCharacter,
                           kMinimumEstimate, kMaximumEstimate);
            start = std::max(previousEnd, end - speaking);
        }
        start = std::max(start, 0.0);
        end = std::max(end, start + kMinimumSpan);
        previousEnd = end;

        std::size_t total = 0;
        for (const auto& row : rows)
            total += JapaneseLineBreaker::characterCount(row);
        std::size_t before = 0;
        for (std::size_t first = 0; first < rows.size(); first += kMaxRowsPerCue) {
            SubtitleCue cue;
            cue.speaker = line.speaker;
            std::size_t characters = 0;
            for (std::size_t r = first; r < std::min(rows.size(), first + kMaxRowsPerCue); ++r) {
                cue.rows.push_back(rows[r]);
                characters += JapaneseLineBreaker::characterCount(rows[r]);
            }
            const auto at = [&](std::size_t count) {
                return start + (end - start) * static_cast<double>(count) / static_cast<double>(total);
            };
            cue.start = at(before);
            before += characters;
            cue.end = before == total ? end : at(before);
            cues.push_back(std::move(cue));
        }
    }
    return cues;
}

} // namespace tc
