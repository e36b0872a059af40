#pragma once

#include <string>

namespace tc {

// The devices the user chose for the live sources, by PulseAudio name; empty means the default device.
struct AudioDeviceChoice {
    // Source name of the microphone.
    std::string microphone;
    // Sink name whose monitor is recorded as system audio.
    std::string systemAudio;

    friend bool operator==(const AudioDeviceChoice&, const AudioDeviceChoice&) = default;
};

} // namespace tc
