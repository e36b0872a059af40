#include "TranscriptionInfrastructure/VoiceActivityDetector.h"

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

constexpr double kSilenceDb = -100.0;
// Per-frame steps of the floor: a quick follow of a steady background, a slow creep otherwise.
constexpr double kSteadyRate = 0.1;
constexpr double kCreepDb = 0.01;

} // namespace

VoiceActivityDetector::VoiceActivityDetector(Settings settings) : m_settings(settings) {}

double VoiceActivityDetector::levelDb(std::span<const float> frame)
{
    if (frame.empty()) return kSilenceDb;
    double energy = 0;
    for (float sample : frame)
        energy += static_cast<double>(sample) * sample;
    energy /= static_cast<double>(frame.size());
    if (!(energy > 1e-10)) return kSilenceDb;
    return std::max(kSilenceDb, 10.0 * std::log10(energy));
}

bool VoiceActivityDetector::isSpeech(std::span<const float> frame)
{
    const double level = levelDb(frame);
    if (!m_primed) {
        // Recordings and captures start before anyone speaks: the first frame is the background.
        m_floorDb = level;
        m_primed = true;
    }
    m_history[m_historyNext] = level;
    m_historyNext = (m_historyNext + 1) % kHistory;
    m_historyCount = std::min(m_historyCount + 1, kHistory);

    if (level < m_floorDb) {
        m_floorDb = level;
    } else if (m_historyCount == kHistory) {
        double mean = 0;
        for (double value : m_history)
            mean += value;
        mean /= static_cast<double>(kHistory);
        double variance = 0;
        for (double value : m_history)
            variance += (value - mean) * (value - mean);
        const double spread = std::sqrt(variance / static_cast<double>(kHistory));
        if (spread < m_settings.steadySpreadDb && mean > m_floorDb)
            m_floorDb += (mean - m_floorDb) * kSteadyRate;
        else
            m_floorDb += kCreepDb;
    } else {
        m_floorDb += kCreepDb;
    }
    m_floorDb = std::max(m_floorDb, kSilenceDb);
    return level > m_floorDb + m_settings.marginDb && level > m_settings.minimumSpeechDb;
}

} // namespace tc
