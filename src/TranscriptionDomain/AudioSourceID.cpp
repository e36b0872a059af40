#include "TranscriptionDomain/AudioSourceID.h"

namespace tc {

std::string_view rawValue(AudioSourceID id)
{
    switch (id) {
    case AudioSourceID::microphone: return "microphone";
    case AudioSourceID::systemAudio: return "systemAudio";
    }
    return {};
}

std::optional<AudioSourceID> audioSourceIDFromRawValue(std::string_view raw)
{
    for (auto id : kAllAudioSourceIDs) {
        if (rawValue(id) == raw) return id;
    }
    return std::nullopt;
}

} // namespace tc
