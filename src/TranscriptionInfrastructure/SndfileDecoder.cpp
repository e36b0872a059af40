#include "TranscriptionInfrastructure/SndfileDecoder.h"

#include <sndfile.h>

#include <memory>

namespace tc {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

} // namespace

SndfileDecoder::SndfileDecoder(std::size_t framesPerRead) : m_framesPerRead(framesPerRead ? framesPerRead : 1) {}

std::variant<DecodedAudio, SndfileDecoder::Failure> SndfileDecoder::decode(const std::filesystem::path& file) const
{
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> handle(sf_open(file.c_str(), SFM_READ, &info));
    if (!handle || info.channels <= 0 || info.samplerate <= 0) return Failure::cannotOpen;

    const auto channels = static_cast<std::size_t>(info.channels);
    DecodedAudio decoded;
    decoded.sampleRate = static_cast<double>(info.samplerate);
    decoded.channels.resize(channels);
    if (info.frames > 0)
        for (auto& channel : decoded.channels)
            channel.reserve(static_cast<std::size_t>(info.frames));

    // Read until the decoder says the end; the announced length is only a hint (compressed formats may
    // be off), and no single read has to cover the whole file.
    std::vector<float> block(m_framesPerRead * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(handle.get(), block.data(), static_cast<sf_count_t>(m_framesPerRead));
        if (got <= 0) break;
        const auto frames = static_cast<std::size_t>(got);
        for (std::size_t c = 0; c < channels; ++c) {
            auto& channel = decoded.channels[c];
            const std::size_t start = channel.size();
            channel.resize(start + frames);
            for (std::size_t i = 0; i < frames; ++i)
                channel[start + i] = block[i * channels + c];
        }
    }
    if (sf_error(handle.get()) != SF_ERR_NO_ERROR || decoded.frameCount() == 0) return Failure::decodeFailed;
    return decoded;
}

} // namespace tc
