#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/Uuid.h"

#include <string>

namespace tc {

// One settled line of the transcript as the user sees it and the history keeps it.
struct FinalizedLine {
    Uuid id;
    std::string text;
    // Wall-clock time at which the line was finalized.
    Date time = 0;

    friend bool operator==(const FinalizedLine&, const FinalizedLine&) = default;
};

} // namespace tc
