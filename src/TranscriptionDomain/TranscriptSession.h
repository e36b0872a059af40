#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/Uuid.h"

#include <optional>
#include <vector>

namespace tc {

// One recording session in the history.
struct TranscriptSession {
    Uuid id;
    std::vector<FinalizedLine> lines;
    Date startedAt = 0;
    // Absent while the session runs or when no end was recorded.
    std::optional<Date> endedAt;

    bool hasContent() const { return !lines.empty(); }

    friend bool operator==(const TranscriptSession&, const TranscriptSession&) = default;
};

} // namespace tc
