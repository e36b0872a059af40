#include "TranscriptionDomain/Utterance.h"

namespace tc {

Utterance Utterance::fromFinalizedSegment(const TranscriptSegment& segment)
{
    return Utterance{Uuid::random(), segment.text, segment.start, segment.end};
}

} // namespace tc
