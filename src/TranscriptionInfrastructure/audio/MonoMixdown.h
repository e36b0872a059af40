#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tc {

// One buffer of deinterleaved 32-bit float channels, as decoders and the capture tap hand them over.
struct PcmBufferView {
    // One pointer per channel, each to frameLength samples; may be null (no float data).
    const float* const* floatChannelData = nullptr;
    std::uint32_t channelCount = 0;
    std::size_t frameLength = 0;
};

// The per-frame mean of the channels (sum, then times the single-precision reciprocal of the channel count);
// a mono buffer is copied unchanged; empty without frames or data; zeros with no channels.
std::vector<float> monoSamples(const PcmBufferView& buffer);

} // namespace tc
