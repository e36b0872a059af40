#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"

#include "TranscriptionInfrastructure/audio/MicrophoneError.h"

#include <utility>

namespace tc {

namespace {

std::exception_ptr microphoneError(PulseAudioError::Kind kind)
{
    switch (kind) {
    case PulseAudioError::Kind::serverUnavailable:
        return std::make_exception_ptr(MicrophoneError(MicrophoneError::Kind::serverUnavailable));
    case PulseAudioError::Kind::noDevice:
        return std::make_exception_ptr(MicrophoneError(MicrophoneError::Kind::noInputDevice));
    case PulseAudioError::Kind::streamFailed: break;
    }
    return std::make_exception_ptr(MicrophoneError(MicrophoneError::Kind::captureFailed));
}

} // namespace

MicrophoneAudioSource::MicrophoneAudioSource(std::uint32_t bufferSize, std::string device, Notice onNotice)
    : PulseAudioCaptureSource(
          Direction::input, bufferSize, std::move(device),
          [onNotice = std::move(onNotice)](const std::string& chosen) {
              if (onNotice) onNotice(fallbackNotice(chosen));
          },
          microphoneError)
{}

std::string MicrophoneAudioSource::fallbackNotice(const std::string& chosen)
{
    return "選んだマイク「" + chosen + "」が見つからないため、既定のデバイスを使います。つなぎ直すと自動で戻ります。";
}

} // namespace tc
