#include "TranscriptionInfrastructure/audio/CaptureDeinterleaver.h"

namespace tc {

PcmBufferView CaptureDeinterleaver::view(const CaptureBuffer& buffer)
{
    const std::size_t channels = buffer.format.channels;
    const std::size_t frames = buffer.frameCount();
    m_channels.resize(channels);
    m_pointers.resize(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        m_channels[c].resize(frames);
        for (std::size_t i = 0; i < frames; ++i)
            m_channels[c][i] = buffer.interleaved[i * channels + c];
        m_pointers[c] = m_channels[c].data();
    }
    return PcmBufferView{m_pointers.data(), static_cast<std::uint32_t>(channels), frames};
}

} // namespace tc
