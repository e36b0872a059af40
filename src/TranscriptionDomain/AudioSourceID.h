#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tc {

// Which capture source something belongs to.
enum class AudioSourceID { microphone, systemAudio };

inline constexpr std::array<AudioSourceID, 2> kAllAudioSourceIDs{AudioSourceID::microphone, AudioSourceID::systemAudio};

// "microphone" or "systemAudio".
std::string_view rawValue(AudioSourceID id);
// Exact, case-sensitive match of the raw value; nothing for any other text.
std::optional<AudioSourceID> audioSourceIDFromRawValue(std::string_view raw);

} // namespace tc
