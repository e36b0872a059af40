#include "TranscriptionDomain/SpeakerLabel.h"

namespace tc {

std::string_view speakerLabelText(SpeakerLabel label)
{
    switch (label) {
    case SpeakerLabel::self: return "自分";
    case SpeakerLabel::other: return "相手";
    case SpeakerLabel::overlap: return "重複";
    }
    return {};
}

std::string_view speakerLabelKey(SpeakerLabel label)
{
    switch (label) {
    case SpeakerLabel::self: return "self";
    case SpeakerLabel::other: return "other";
    case SpeakerLabel::overlap: return "overlap";
    }
    return {};
}

std::optional<SpeakerLabel> speakerLabelFromKey(std::string_view key)
{
    for (const auto label : {SpeakerLabel::self, SpeakerLabel::other, SpeakerLabel::overlap})
        if (key == speakerLabelKey(label)) return label;
    return std::nullopt;
}

} // namespace tc
