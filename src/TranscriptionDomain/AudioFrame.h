#pragma once

#include <vector>

namespace tc {

// One block of mono audio from a source.
struct AudioFrame {
    std::vector<float> samples;
    double sampleRate = 0;
    // Position of the first sample, in seconds on the source's own clock.
    double timestamp = 0;

    // Samples divided by the rate; 0 when the rate is not positive (or not a number).
    double duration() const;

    friend bool operator==(const AudioFrame&, const AudioFrame&) = default;
};

} // namespace tc
