#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace tc {

// What each member put into a mixed signal over time: the power of every member in consecutive short bins on
// the mixed stream's clock, kept for the last keepSeconds, so that a recognized span can be traced back to the
// member that carried it. Thread-safe (one mutex inside).
class SourceEnergyHistory {
public:
    SourceEnergyHistory(std::size_t members, double rate, double binSeconds = 0.05, double keepSeconds = 900);

    // Adds the samples one member put into the mix from this sample position of the mixed stream on.
    void add(std::size_t member, std::int64_t position, std::span<const float> samples);
    // Per member, the mean power of each bin that overlaps [start, end) in seconds of the mixed stream; bins
    // already dropped or not reached yet are left out. Empty vectors when the span holds no kept bin.
    std::vector<std::vector<double>> binPowers(double start, double end) const;

    double binSeconds() const { return static_cast<double>(m_binSamples) / m_rate; }

private:
    const std::size_t m_members;
    const double m_rate;
    const std::int64_t m_binSamples;
    const std::size_t m_keepBins;

    mutable std::mutex m_mutex;
    // Sums of squares, m_members per bin, from bin m_firstBin on.
    std::deque<double> m_sums;
    std::int64_t m_firstBin = 0;
};

} // namespace tc
