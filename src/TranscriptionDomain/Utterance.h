#pragma once

#include "TranscriptionDomain/TranscriptSegment.h"
#include "TranscriptionDomain/Uuid.h"

#include <string>

namespace tc {

// One spoken unit kept in the conversation state.
struct Utterance {
    Uuid id;
    std::string text;
    double start = 0;
    double end = 0;

    // A new identifier (not the segment's) with the segment's text and times; the status is not examined.
    static Utterance fromFinalizedSegment(const TranscriptSegment& segment);

    friend bool operator==(const Utterance&, const Utterance&) = default;
};

} // namespace tc
