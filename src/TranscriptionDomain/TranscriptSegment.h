#pragma once

#include "TranscriptionDomain/Uuid.h"

#include <string>

namespace tc {

// One result of the recognizer: interim or final text, or a notice for the log about the recognition itself (a
// weaker fallback in use), which has no audio time.
struct TranscriptSegment {
    enum class Status { volatile_, finalized, notice };

    Uuid id;
    std::string text;
    Status status = Status::volatile_;
    // Audio time of the segment's beginning and end, in seconds.
    double start = 0;
    double end = 0;

    bool isFinal() const { return status == Status::finalized; }
    bool isNotice() const { return status == Status::notice; }

    friend bool operator==(const TranscriptSegment&, const TranscriptSegment&) = default;
};

} // namespace tc
