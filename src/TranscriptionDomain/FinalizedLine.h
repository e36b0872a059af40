#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/SpeakerLabel.h"
#include "TranscriptionDomain/Uuid.h"

#include <optional>
#include <string>

namespace tc {

// One settled line of the transcript as the user sees it and the history keeps it.
struct FinalizedLine {
    Uuid id;
    std::string text;
    // Wall-clock time at which the line was finalized.
    Date time = 0;
    // Where the recognizer heard the line, in seconds from the session start; absent in older files.
    std::optional<double> start;
    std::optional<double> end;
    // Who said it; absent when only one source ran or in older files.
    std::optional<SpeakerLabel> speaker;

    friend bool operator==(const FinalizedLine&, const FinalizedLine&) = default;
};

} // namespace tc
