#include "TranscriptionInfrastructure/speech/VoiceActivityDetector.h"

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

constexpr double kSilenceDb = -100.0;

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
    m_history[m_historyNext] = level;
    m_historyNext = (m_historyNext + 1) % kHistory;
    m_historyCount = std::min(m_historyCount + 1, kHistory);

    std::array<double, kHistory> sorted = m_history;
    const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(m_historyCount);
    const auto tenth = sorted.begin() + static_cast<std::ptrdiff_t>(m_historyCount / 10);
    std::nth_element(sorted.begin(), tenth, end);
    m_floorDb = *tenth;
    return level > m_floorDb + m_settings.marginDb && level > m_settings.minimumSpeechDb;
}

} // namespace tc
