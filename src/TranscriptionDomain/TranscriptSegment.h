#pragma once

#include "TranscriptionDomain/Uuid.h"

#include <string>

namespace tc {

// One result of the recognizer.
struct TranscriptSegment {
    enum class Status { volatile_, finalized };

    Uuid id;
    std::string text;
    Status status = Status::volatile_;
    // Audio time of the segment's beginning and end, in seconds.
    double start = 0;
    double end = 0;

    bool isFinal() const { return status == Status::finalized; }

    friend bool operator==(const TranscriptSegment&, const TranscriptSegment&) = default;
};

} // namespace tc
