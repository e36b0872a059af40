#pragma once

#include "TranscriptionInfrastructure/audio/PulseAudioCaptureSource.h"

#include <functional>
#include <string>

namespace tc {

// What the computer plays, recorded from the monitor of the chosen output or of the default one
// (PulseAudioCaptureSource's output direction); fails with SystemAudioError. PulseAudio cannot leave one client's
// sound out of a monitor, and this application plays none of its own.
class SystemAudioSource : public PulseAudioCaptureSource {
public:
    // Called on the capture's delivery thread with a Japanese notice for the user.
    using Notice = std::function<void(const std::string& notice)>;

    // device is a PulseAudio sink name, empty for the default output; onNotice hears that the default stands in.
    explicit SystemAudioSource(std::string device = {}, Notice onNotice = {});

    // The notice that the default output stands in for the chosen one, named as the user knows it.
    static std::string fallbackNotice(const std::string& chosen);
};

} // namespace tc
