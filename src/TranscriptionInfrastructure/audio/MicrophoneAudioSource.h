#pragma once

#include "TranscriptionInfrastructure/audio/PulseAudioCaptureSource.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tc {

// The chosen input device, or the default one, as a live source (PulseAudioCaptureSource's input direction):
// follows a change of the default input, or of its format, without ending the stream; fails with MicrophoneError.
class MicrophoneAudioSource : public PulseAudioCaptureSource {
public:
    // Called on the capture's delivery thread with a Japanese notice for the user.
    using Notice = std::function<void(const std::string& notice)>;

    // bufferSize is the requested block length in frames (1024 from the composition root); device is a
    // PulseAudio source name, empty for the default input; onNotice hears that the default stands in for it.
    explicit MicrophoneAudioSource(std::uint32_t bufferSize = 1024, std::string device = {}, Notice onNotice = {});

    // The notice that the default input stands in for the chosen one, named as the user knows it.
    static std::string fallbackNotice(const std::string& chosen);
};

} // namespace tc
