#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/SubtitleCue.h"

#include <string>
#include <vector>

namespace tc {

// Turns a session's lines into subtitle cues: at most two rows of about 20 full-width characters each, broken
// where Japanese allows; a longer line becomes several cues that share its time span in proportion to their
// characters. Pure, callable from any thread.
class SubtitleCueBuilder {
public:
    // Row width in half-width columns (21 full-width characters).
    static constexpr int kMaxColumns = 42;
    static constexpr int kMaxRowsPerCue = 2;
    // Speaking time assumed for a line without recognized times: per character, and its bounds.
    static constexpr double kSecondsPerCharacter = 0.2;
    static constexpr double kMinimumEstimate = 1.0;
    static constexpr double kMaximumEstimate = 8.0;
    // The shortest span a line's cues get, so no cue vanishes or runs backwards.
    static constexpr double kMinimumSpan = 0.5;

    // The cues of the lines, in line order; blank lines give none. A line's span is its recognized start and end
    // when it has both; otherwise it ends at its finalized time relative to sessionStart and starts an estimated
    // speaking time earlier, but not before the previous line's end. Spans never start before 0.
    static std::vector<SubtitleCue> build(const std::vector<FinalizedLine>& lines, Date sessionStart);

    // "[自分] " and the like: the tag written before a cue's or line's text, or empty without a label.
    static std::string speakerTag(const std::optional<SpeakerLabel>& speaker);
};

} // namespace tc
