#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "TranscriptionInfrastructure/audio/CaptureDeinterleaver.h"
#include "TranscriptionInfrastructure/audio/SystemAudioError.h"

#include <memory>
#include <utility>

namespace tc {

namespace {

SystemAudioError::Kind errorKind(PulseAudioError::Kind kind)
{
    switch (kind) {
    case PulseAudioError::Kind::serverUnavailable: return SystemAudioError::Kind::serverUnavailable;
    case PulseAudioError::Kind::noDevice: return SystemAudioError::Kind::noOutputDevice;
    case PulseAudioError::Kind::streamFailed: return SystemAudioError::Kind::captureFailed;
    }
    return SystemAudioError::Kind::captureFailed;
}

} // namespace

SystemAudioSource::SystemAudioSource(std::string device, Notice onNotice)
    : m_device(std::move(device)), m_onNotice(std::move(onNotice))
{}

std::string SystemAudioSource::fallbackNotice(const std::string& chosen)
{
    return "選んだ出力「" + chosen + "」が見つからないため、既定のデバイスを使います。つなぎ直すと自動で戻ります。";
}

SystemAudioSource::~SystemAudioSource()
{
    stop();
}

AudioFrameStream SystemAudioSource::start()
{
    const auto makeTap = [](const AudioFrameStream& stream) -> PulseAudioCapture::Tap {
        return [stream, deinterleaver = std::make_shared<CaptureDeinterleaver>()](const CaptureBuffer& buffer) {
            auto samples = monoSamples(deinterleaver->view(buffer));
            if (samples.empty()) return;
            stream->yield(AudioFrame{std::move(samples), buffer.format.sampleRate, 0.0});
        };
    };
    try {
        return m_capture.open(
            PulseAudioCapture::Device::defaultSinkMonitor, 1024, "transcription-corvane system audio", makeTap,
            [](PulseAudioError::Kind why) { return std::make_exception_ptr(SystemAudioError(errorKind(why))); },
            m_device,
            [onNotice = m_onNotice](const std::string& chosen) {
                if (onNotice) onNotice(fallbackNotice(chosen));
            });
    } catch (const PulseAudioError& error) {
        throw SystemAudioError(errorKind(error.kind()));
    }
}

void SystemAudioSource::stop()
{
    m_capture.close();
}

} // namespace tc
