#pragma once

#include "TranscriptionDomain/SpeakerLabel.h"

#include <optional>
#include <span>

namespace tc {

// Decides who carried an utterance from the loudness of the microphone ("self") and the system audio ("other")
// over its time span. Pure; any thread.
class SpeakerAttribution {
public:
    struct Settings {
        // Mean power of a bin below which a source is silent there (-45 dBFS): room noise, an idle stream.
        double activityFloor = 3.2e-5;
        // A source at least this far below the other in a bin only echoes it (15 dB): system audio from the
        // loudspeakers picked up again by the microphone.
        double leakRatio = 0.0316;
        // Both sources speaking at least this long, and the lesser at least overlapShare of the greater, is
        // talking at once; a shorter brush at the edge of an utterance is a turn's end or the next one's start.
        double overlapSeconds = 0.5;
        double overlapShare = 0.3;
        // Without a clear speaker in any bin, the louder source by at least this factor (10 dB) still decides.
        double dominance = 10.0;
    };

    // The speaker of a span given each source's mean power in the same consecutive bins of binSeconds; nothing
    // when neither source can be told apart from the other or from silence.
    static std::optional<SpeakerLabel> decide(std::span<const double> selfPower, std::span<const double> otherPower,
                                              double binSeconds, const Settings& settings);
    static std::optional<SpeakerLabel> decide(std::span<const double> selfPower, std::span<const double> otherPower,
                                              double binSeconds)
    {
        return decide(selfPower, otherPower, binSeconds, Settings());
    }
};

} // namespace tc
