#include "TranscriptionInfrastructure/audio/MonoMixdown.h"

namespace tc {

std::vector<float> monoSamples(const PcmBufferView& buffer)
{
    const std::size_t n = buffer.frameLength;
    if (n == 0 || !buffer.floatChannelData) return {};
    std::vector<float> out(n, 0.0f);
    const std::uint32_t c = buffer.channelCount;
    if (c == 0) return out;
    for (std::uint32_t channel = 0; channel < c; ++channel) {
        const float* samples = buffer.floatChannelData[channel];
        for (std::size_t i = 0; i < n; ++i)
            out[i] += samples[i];
    }
    if (c == 1) return out;
    const float k = 1.0f / static_cast<float>(c);
    for (float& sample : out)
        sample *= k;
    return out;
}

} // namespace tc
