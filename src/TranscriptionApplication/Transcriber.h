#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/Channel.h"
#include "TranscriptionDomain/TranscriptSegment.h"

namespace tc {

using SegmentStream = Stream<TranscriptSegment>;

// Speech recognition.
class Transcriber {
public:
    virtual ~Transcriber() = default;

    // Returns at once; recognition runs while the caller consumes the result. A recognition error fails the
    // returned stream; the end of the frames finishes it after the last segment. Notice segments among the text
    // say, in Japanese, how the recognition runs when it runs less well than it could. Cancelling the returned
    // stream stops the recognition. Callable from any thread.
    virtual SegmentStream transcribe(AudioFrameStream frames) = 0;
};

} // namespace tc
