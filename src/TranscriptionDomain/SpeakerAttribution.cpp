#include "TranscriptionDomain/SpeakerAttribution.h"

#include <algorithm>

namespace tc {

std::optional<SpeakerLabel> SpeakerAttribution::decide(std::span<const double> selfPower,
                                                       std::span<const double> otherPower, double binSeconds,
                                                       const Settings& settings)
{
    const std::size_t bins = std::min(selfPower.size(), otherPower.size());
    double selfSpeaking = 0, otherSpeaking = 0;
    double selfTotal = 0, otherTotal = 0;
    for (std::size_t i = 0; i < bins; ++i) {
        const double self = selfPower[i], other = otherPower[i];
        selfTotal += self;
        otherTotal += other;
        if (self >= settings.activityFloor && self >= other * settings.leakRatio) selfSpeaking += binSeconds;
        if (other >= settings.activityFloor && other >= self * settings.leakRatio) otherSpeaking += binSeconds;
    }
    if (selfSpeaking == 0 && otherSpeaking == 0) {
        if (selfTotal > 0 && selfTotal >= otherTotal * settings.dominance) return SpeakerLabel::self;
        if (otherTotal > 0 && otherTotal >= selfTotal * settings.dominance) return SpeakerLabel::other;
        return std::nullopt;
    }
    const double lesser = std::min(selfSpeaking, otherSpeaking);
    const double greater = std::max(selfSpeaking, otherSpeaking);
    if (lesser >= settings.overlapSeconds && lesser >= greater * settings.overlapShare) return SpeakerLabel::overlap;
    if (selfSpeaking != otherSpeaking) return selfSpeaking > otherSpeaking ? SpeakerLabel::self : SpeakerLabel::other;
    return selfTotal >= otherTotal ? SpeakerLabel::self : SpeakerLabel::other;
}

} // namespace tc
