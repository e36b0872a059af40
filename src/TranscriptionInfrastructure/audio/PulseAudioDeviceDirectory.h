#pragma once

#include <string>
#include <vector>

namespace tc {

// One device the sound server offers: its PulseAudio name (what a capture asks for) and the description
// people read ("Built-in Audio Analog Stereo").
struct AudioDeviceInfo {
    std::string name;
    std::string description;

    friend bool operator==(const AudioDeviceInfo&, const AudioDeviceInfo&) = default;
};

// The sound server's devices, read on demand. Each call connects, reads and disconnects; blocks for at most
// about 2 s and returns an empty list when no server answers. Any thread.
class PulseAudioDeviceDirectory {
public:
    // Input devices (microphones), monitors of outputs excluded, in the server's order.
    std::vector<AudioDeviceInfo> inputs() const;
    // Output devices (sinks), whose monitor the system-audio capture records.
    std::vector<AudioDeviceInfo> outputs() const;
};

} // namespace tc
