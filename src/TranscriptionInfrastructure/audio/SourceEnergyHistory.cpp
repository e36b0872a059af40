#include "TranscriptionInfrastructure/audio/SourceEnergyHistory.h"

#include <algorithm>
#include <cmath>

namespace tc {

SourceEnergyHistory::SourceEnergyHistory(std::size_t members, double rate, double binSeconds, double keepSeconds)
    : m_members(members), m_rate(rate), m_binSamples(std::max<std::int64_t>(1, std::llround(rate * binSeconds))),
      m_keepBins(static_cast<std::size_t>(std::ceil(keepSeconds / binSeconds)) + 1)
{}

void SourceEnergyHistory::add(std::size_t member, std::int64_t position, std::span<const float> samples)
{
    if (member >= m_members || position < 0 || samples.empty()) return;
    std::lock_guard lock(m_mutex);
    std::size_t offset = 0;
    while (offset < samples.size()) {
        const std::int64_t at = position + static_cast<std::int64_t>(offset);
        const std::int64_t bin = at / m_binSamples;
        const auto inBin = static_cast<std::size_t>(std::min<std::int64_t>(
            m_binSamples - at % m_binSamples, static_cast<std::int64_t>(samples.size() - offset)));
        double sum = 0;
        for (std::size_t i = 0; i < inBin; ++i)
            sum += static_cast<double>(samples[offset + i]) * samples[offset + i];
        offset += inBin;
        if (bin < m_firstBin) continue;
        const auto index = static_cast<std::size_t>(bin - m_firstBin);
        if (m_sums.size() < (index + 1) * m_members) m_sums.resize((index + 1) * m_members, 0.0);
        m_sums[index * m_members + member] += sum;
    }
    // Old bins go in whole; a span that far back has long been attributed.
    const std::size_t kept = m_sums.size() / m_members;
    if (kept > m_keepBins) {
        const std::size_t drop = kept - m_keepBins;
        m_sums.erase(m_sums.begin(), m_sums.begin() + static_cast<std::ptrdiff_t>(drop * m_members));
        m_firstBin += static_cast<std::int64_t>(drop);
    }
}

std::vector<std::vector<double>> SourceEnergyHistory::binPowers(double start, double end) const
{
    std::vector<std::vector<double>> powers(m_members);
    if (m_members == 0 || !(end > start)) return powers;
    std::lock_guard lock(m_mutex);
    const double binSeconds = static_cast<double>(m_binSamples) / m_rate;
    const std::int64_t kept = static_cast<std::int64_t>(m_sums.size() / m_members);
    const auto first = std::max<std::int64_t>(m_firstBin, static_cast<std::int64_t>(std::floor(start / binSeconds)));
    const auto last = std::min<std::int64_t>(m_firstBin + kept, static_cast<std::int64_t>(std::ceil(end / binSeconds)));
    for (std::int64_t bin = first; bin < last; ++bin) {
        const auto index = static_cast<std::size_t>(bin - m_firstBin);
        for (std::size_t member = 0; member < m_members; ++member)
            powers[member].push_back(m_sums[index * m_members + member] / static_cast<double>(m_binSamples));
    }
    return powers;
}

} // namespace tc
