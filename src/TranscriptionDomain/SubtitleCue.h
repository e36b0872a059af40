#pragma once

#include "TranscriptionDomain/SpeakerLabel.h"

#include <optional>
#include <string>
#include <vector>

namespace tc {

// One subtitle shown on screen for a span of the session.
struct SubtitleCue {
    // Seconds from the session start; end is after start.
    double start = 0;
    double end = 0;
    // One or two display rows, already broken.
    std::vector<std::string> rows;
    // Shown as a small tag before the first row.
    std::optional<SpeakerLabel> speaker;

    friend bool operator==(const SubtitleCue&, const SubtitleCue&) = default;
};

} // namespace tc
