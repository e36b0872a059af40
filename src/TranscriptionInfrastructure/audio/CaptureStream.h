#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tc {

// One running PulseAudio capture and the frame stream it feeds; the live sources' shared start and stop.
// Serialises its own state (one mutex inside).
class CaptureStream {
public:
    // Builds the tap that turns captured blocks into frames on the given stream.
    using MakeTap = std::function<PulseAudioCapture::Tap(const AudioFrameStream&)>;
    // The source's own error for why a capture ended by itself; the stream fails with it.
    using MakeError = std::function<std::exception_ptr(PulseAudioError::Kind)>;

    CaptureStream() = default;
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // Ends any earlier capture (exactly one tap per device), then records; the stream fails with makeError's
    // error when the capture ends by itself, and finishes on close(). The stream, or why the capture could not
    // begin. chosenDevice and fellBack as in PulseAudioCapture.
    Expected<AudioFrameStream, PulseAudioError> open(PulseAudioCapture::Device device, std::uint32_t bufferFrames,
                                                     const std::string& name, const MakeTap& makeTap,
                                                     const MakeError& makeError, const std::string& chosenDevice = {},
                                                     PulseAudioCapture::FellBack fellBack = {});
    // Stops the capture and finishes its stream; harmless when none runs.
    void close();

private:
    std::mutex m_mutex;
    std::unique_ptr<PulseAudioCapture> m_capture;
    AudioFrameStream m_stream;
};

} // namespace tc
