#include "TranscriptionInfrastructure/audio/FileAudioSource.h"

#include "TranscriptionInfrastructure/audio/FileError.h"
#include "TranscriptionInfrastructure/audio/MonoMixdown.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tc {

FileAudioSource::FileAudioSource(std::filesystem::path file, std::int64_t frameSize, SndfileDecoder decoder)
    : m_file(std::move(file)), m_frameSize(std::max<std::int64_t>(frameSize, 1)), m_decoder(decoder)
{}

namespace {

FileError::Kind errorKind(SndfileDecoder::Failure failure)
{
    switch (failure) {
    case SndfileDecoder::Failure::cannotOpen: return FileError::Kind::cannotOpen;
    case SndfileDecoder::Failure::decodeFailed: return FileError::Kind::decodeFailed;
    case SndfileDecoder::Failure::notAFile: return FileError::Kind::notAFile;
    }
    return FileError::Kind::cannotOpen;
}

// Everything standard input delivers, to its end.
std::vector<std::byte> readStandardInput()
{
    std::vector<std::byte> bytes;
    std::vector<std::byte> block(std::size_t{1} << 16);
    for (;;) {
        const auto got = ::read(STDIN_FILENO, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        bytes.insert(bytes.end(), block.begin(), block.begin() + got);
    }
    return bytes;
}

} // namespace

AudioFrameStream FileAudioSource::start()
{
    if (m_file == standardInput && ::isatty(STDIN_FILENO) == 1)
        throw FileError(FileError::Kind::standardInputIsTerminal, m_file);
    auto result = m_file == standardInput ? m_decoder.decode(std::span<const std::byte>(readStandardInput()))
                                          : m_decoder.decode(m_file);
    if (!result) throw FileError(errorKind(result.error()), m_file);
    auto& decoded = *result;
    const bool truncated = decoded.truncated;
    const double readSeconds = decoded.seconds();

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
    // A file that breaks off still gives what it holds; then the stream says it was cut.
    if (truncated)
        stream->fail(std::make_exception_ptr(FileError(FileError::Kind::truncated, m_file, readSeconds)));
    else
        stream->finish();
    return stream;
}

void FileAudioSource::stop() {}

} // namespace tc
