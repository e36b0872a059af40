#include "TranscriptionInfrastructure/audio/LevelMeter.h"

#include <algorithm>
#include <cmath>

namespace tc {

LevelMeter::LevelMeter(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock) m_clock = [] { return std::chrono::steady_clock::now(); };
}

std::optional<float> LevelMeter::update(std::span<const float> samples)
{
    if (samples.empty()) return std::nullopt;
    float sum = 0.0f;
    for (float s : samples)
        sum += s * s;
    const float rms = std::sqrt(sum / static_cast<float>(samples.size()));
    const auto now = m_clock();
    m_ema = m_ema + (rms - m_ema) * smoothing;
    // Never reported before counts as the distant past.
    if (m_lastEmit && now - *m_lastEmit < minInterval) return std::nullopt;
    m_lastEmit = now;
    return std::min(m_ema, 1.0f);
}

} // namespace tc
