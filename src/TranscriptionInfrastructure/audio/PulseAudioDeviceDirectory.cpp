#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"

namespace tc {

std::vector<AudioDeviceInfo> PulseAudioDeviceDirectory::inputs() const { return {}; }

std::vector<AudioDeviceInfo> PulseAudioDeviceDirectory::outputs() const { return {}; }

} // namespace tc
