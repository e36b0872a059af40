#include "TranscriptionInfrastructure/FileAudioSource.h"

#include "TranscriptionInfrastructure/FileError.h"
#include "TranscriptionInfrastructure/MonoMixdown.h"

#include <algorithm>

namespace tc {

FileAudioSource::FileAudioSource(std::filesystem::path file, std::int64_t frameSize, SndfileDecoder decoder)
    : m_file(std::move(file)), m_frameSize(std::max<std::int64_t>(frameSize, 1)), m_decoder(decoder)
{}

AudioFrameStream FileAudioSource::start()
{
    auto result = m_decoder.decode(m_file);
    if (auto* failure = std::get_if<SndfileDecoder::Failure>(&result))
        throw FileError(*failure == SndfileDecoder::Failure::cannotOpen ? FileError::Kind::cannotOpen
                                                                        : FileError::Kind::decodeFailed,
                        m_file);
    auto& decoded = std::get<DecodedAudio>(result);

    std::vector<const float*> channelData;
    for (const auto& channel : decoded.channels)
        channelData.push_back(channel.data());
    const PcmBufferView view{channelData.data(), static_cast<std::uint32_t>(decoded.channels.size()),
                             decoded.frameCount()};
    std::vector<float> samples = monoSamples(view);
    decoded.channels.clear();
    const double sampleRate = decoded.sampleRate;

    auto stream = Channel<AudioFrame>::make();
    const auto n = samples.size();
    const auto frameSize = static_cast<std::size_t>(m_frameSize);
    double t = 0.0;
    for (std::size_t first = 0; first < n;) {
        const std::size_t end = std::min(first + frameSize, n);
        AudioFrame frame;
        frame.samples.assign(samples.begin() + static_cast<std::ptrdiff_t>(first),
                             samples.begin() + static_cast<std::ptrdiff_t>(end));
        frame.sampleRate = sampleRate;
        frame.timestamp = t;
        // A running sum of frame durations, not first / rate afresh.
        t += static_cast<double>(end - first) / sampleRate;
        stream->yield(std::move(frame));
        first = end;
    }
    stream->finish();
    return stream;
}

void FileAudioSource::stop() {}

} // namespace tc
