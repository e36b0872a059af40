#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"

#include "TranscriptionInfrastructure/audio/CaptureDeinterleaver.h"
#include "TranscriptionInfrastructure/audio/MicrophoneError.h"

#include <memory>
#include <utility>

namespace tc {

namespace {

MicrophoneError::Kind errorKind(PulseAudioError::Kind kind)
{
    switch (kind) {
    case PulseAudioError::Kind::serverUnavailable: return MicrophoneError::Kind::serverUnavailable;
    case PulseAudioError::Kind::noDevice: return MicrophoneError::Kind::noInputDevice;
    case PulseAudioError::Kind::streamFailed: return MicrophoneError::Kind::captureFailed;
    }
    return MicrophoneError::Kind::captureFailed;
}

} // namespace

MicrophoneAudioSource::MicrophoneAudioSource(std::uint32_t bufferSize, std::string device, Notice onNotice)
    : m_bufferSize(bufferSize), m_device(std::move(device)), m_onNotice(std::move(onNotice))
{}

MicrophoneAudioSource::~MicrophoneAudioSource()
{
    stop();
}

AudioFrame MicrophoneAudioSource::frame(const PcmBufferView& buffer, double sampleRate, std::int64_t samplePosition)
{
    AudioFrame frame;
    frame.samples = monoSamples(buffer);
    frame.sampleRate = sampleRate;
    frame.timestamp = sampleRate > 0 ? static_cast<double>(samplePosition) / sampleRate : 0.0;
    return frame;
}

std::string MicrophoneAudioSource::fallbackNotice(const std::string& chosen)
{
    return "選んだマイク「" + chosen + "」が見つからないため、既定のデバイスを使います。つなぎ直すと自動で戻ります。";
}

AudioFrameStream MicrophoneAudioSource::start()
{
    const auto makeTap = [](const AudioFrameStream& stream) -> PulseAudioCapture::Tap {
        return [stream, deinterleaver = std::make_shared<CaptureDeinterleaver>()](const CaptureBuffer& buffer) {
            stream->yield(frame(deinterleaver->view(buffer), buffer.format.sampleRate, buffer.samplePosition));
        };
    };
    try {
        return m_capture.open(
            PulseAudioCapture::Device::defaultSource, m_bufferSize, "transcription-corvane microphone", makeTap,
            [](PulseAudioError::Kind why) { return std::make_exception_ptr(MicrophoneError(errorKind(why))); },
            m_device,
            [onNotice = m_onNotice](const std::string& chosen) {
                if (onNotice) onNotice(fallbackNotice(chosen));
            });
    } catch (const PulseAudioError& error) {
        throw MicrophoneError(errorKind(error.kind()));
    }
}

void MicrophoneAudioSource::stop()
{
    m_capture.close();
}

} // namespace tc
