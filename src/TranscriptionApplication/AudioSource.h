#pragma once

#include "TranscriptionApplication/Channel.h"
#include "TranscriptionDomain/AudioFrame.h"
#include "TranscriptionDomain/SpeakerLabel.h"

#include <optional>

namespace tc {

using AudioFrameStream = Stream<AudioFrame>;

// A producer of audio frames. Implementations serialise their own state; any thread may call.
class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Begins capture or reading; the stream finishes when the source is stopped or its input ends, and fails
    // when the input breaks off (a PortFailure tells whether waiting for the device or server can help).
    // Throws (a std::exception whose what() is a readable Japanese description) when it cannot begin.
    virtual AudioFrameStream start() = 0;
    // Stops capture and finishes the last stream; harmless on a source that never started or already stopped.
    virtual void stop() = 0;
    // True for a signal without end (microphone, system audio); answers at once, without waiting.
    virtual bool isContinuous() const { return false; }
    // Who carried the last started stream's audio between these times (seconds from its first frame): the
    // microphone, the system audio or both; nothing when the source cannot tell, as a single input cannot.
    virtual std::optional<SpeakerLabel> speakerBetween(double /*start*/, double /*end*/) const { return std::nullopt; }
};

} // namespace tc
