#pragma once

#include <cstddef>
#include <span>

namespace tc {

// A model that hears whether a window of audio holds a human voice, carrying what it heard from one window to the
// next. Not thread-safe: one owner.
class VoiceProbabilityModel {
public:
    virtual ~VoiceProbabilityModel() = default;
    // The samples (16 kHz mono) each call judges.
    virtual std::size_t windowSamples() const = 0;
    // The probability, 0 to 1, that the next window of the stream holds a voice.
    virtual float probability(std::span<const float> window) = 0;
    // Forgets the stream so far.
    virtual void reset() = 0;
};

} // namespace tc
