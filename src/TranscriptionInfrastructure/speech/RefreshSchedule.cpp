#include "TranscriptionInfrastructure/speech/RefreshSchedule.h"

#include <algorithm>

namespace tc {

bool RefreshSchedule::due(std::size_t index, std::size_t samples, bool textShown) const
{
    const double rate = m_settings.sampleRate;
    if (firstPending(index))
        return samples >= static_cast<std::size_t>((m_settings.preRollSeconds + m_settings.firstRefreshSeconds) * rate);
    // Nothing on show yet: the next refresh is what the user waits for, whatever the last one cost.
    const bool textless = m_settings.textlessRefreshSeconds > 0 && !textShown;
    const double interval = textless ? m_settings.textlessRefreshSeconds
                                     : std::clamp(m_lastCost * m_settings.costFactor, m_settings.minimumRefreshSeconds,
                                                  m_settings.maximumRefreshSeconds);
    return samples >= m_samples + static_cast<std::size_t>(interval * rate);
}

void RefreshSchedule::began(std::size_t index, std::size_t samples)
{
    m_index = index;
    m_samples = samples;
}

} // namespace tc
