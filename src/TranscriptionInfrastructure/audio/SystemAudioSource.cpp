#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "TranscriptionInfrastructure/audio/SystemAudioError.h"

#include <utility>

namespace tc {

namespace {

std::exception_ptr systemAudioError(PulseAudioError::Kind kind)
{
    switch (kind) {
    case PulseAudioError::Kind::serverUnavailable:
        return std::make_exception_ptr(SystemAudioError(SystemAudioError::Kind::serverUnavailable));
    case PulseAudioError::Kind::noDevice:
        return std::make_exception_ptr(SystemAudioError(SystemAudioError::Kind::noOutputDevice));
    case PulseAudioError::Kind::streamFailed: break;
    }
    return std::make_exception_ptr(SystemAudioError(SystemAudioError::Kind::captureFailed));
}

} // namespace

SystemAudioSource::SystemAudioSource(std::string device, Notice onNotice)
    : PulseAudioCaptureSource(
          Direction::outputMonitor, 1024, std::move(device),
          [onNotice = std::move(onNotice)](const std::string& chosen) {
              if (onNotice) onNotice(fallbackNotice(chosen));
          },
          systemAudioError)
{}

std::string SystemAudioSource::fallbackNotice(const std::string& chosen)
{
    return "選んだ出力「" + chosen + "」が見つからないため、既定のデバイスを使います。つなぎ直すと自動で戻ります。";
}

} // namespace tc
