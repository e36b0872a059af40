#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tc {

// Which side of a conversation carried a line: the microphone, the system audio, or both at once.
enum class SpeakerLabel { self, other, overlap };

// "自分", "相手" or "重複", as shown before a line's text.
std::string_view speakerLabelText(SpeakerLabel label);
// The history file's value: "self", "other" or "overlap".
std::string_view speakerLabelKey(SpeakerLabel label);
// The label for a history file value; nothing for any other text, so a label from a newer release is dropped.
std::optional<SpeakerLabel> speakerLabelFromKey(std::string_view key);

} // namespace tc
