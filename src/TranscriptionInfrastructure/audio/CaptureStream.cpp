#include "TranscriptionInfrastructure/audio/CaptureStream.h"

namespace tc {

CaptureStream::~CaptureStream()
{
    close();
}

Expected<AudioFrameStream, PulseAudioError> CaptureStream::open(PulseAudioCapture::Device device,
                                                                std::uint32_t bufferFrames, const std::string& name,
                                                                const MakeTap& makeTap, const MakeError& makeError,
                                                                const std::string& chosenDevice,
                                                                PulseAudioCapture::FellBack fellBack)
{
    close();
    std::lock_guard lock(m_mutex);
    auto stream = Channel<AudioFrame>::make();
    auto capture = std::make_unique<PulseAudioCapture>(device, bufferFrames, name, chosenDevice);
    // The server or device going away is a failure the session can wait out, not the end of the audio.
    auto started = capture->start(
        makeTap(stream), [stream, makeError](PulseAudioError::Kind why) { stream->fail(makeError(why)); },
        std::move(fellBack));
    if (!started) {
        stream->finish();
        return Unexpected{std::move(started).error()};
    }
    m_capture = std::move(capture);
    m_stream = stream;
    return stream;
}

void CaptureStream::close()
{
    std::unique_ptr<PulseAudioCapture> capture;
    AudioFrameStream stream;
    {
        std::lock_guard lock(m_mutex);
        capture = std::move(m_capture);
        stream = std::move(m_stream);
    }
    // Outside the lock: stopping waits for the delivery thread.
    if (capture) capture->stop();
    if (stream) stream->finish();
}

} // namespace tc
