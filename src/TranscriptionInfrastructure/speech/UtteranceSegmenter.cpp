#include "TranscriptionInfrastructure/speech/UtteranceSegmenter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tc {

namespace {

// The level that `tenths` tenths of the frames stay under; reorders the levels.
double levelAtTenths(std::vector<double>& levels, std::size_t tenths)
{
    const auto at = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() * tenths / 10);
    std::nth_element(levels.begin(), at, levels.end());
    return *at;
}

std::size_t framesIn(double seconds, double frameSeconds)
{
    return static_cast<std::size_t>(std::ceil(seconds / frameSeconds - 1e-9));
}

} // namespace

UtteranceSegmenter::UtteranceSegmenter(Settings settings, std::unique_ptr<VoiceProbabilityModel> voiceModel)
    : m_settings(settings), m_detector(settings.detector), m_voiceModel(std::move(voiceModel)),
      m_frameSamples(std::max<std::size_t>(1, static_cast<std::size_t>(settings.sampleRate * settings.frameSeconds)))
{}

double UtteranceSegmenter::elapsed() const
{
    return static_cast<double>(m_samplesTaken + m_pending.size()) / m_settings.sampleRate;
}

std::size_t UtteranceSegmenter::currentPauseSamples() const
{
    return m_inUtterance ? std::min(m_current.size(), pauseFrames() * m_frameSamples) : 0;
}

std::size_t UtteranceSegmenter::pauseFrames() const
{
    return std::max({m_pauseFrames, m_quietFrames, m_backgroundPauseFrames});
}

std::vector<SegmentedUtterance> UtteranceSegmenter::append(std::span<const float> samples)
{
    std::vector<SegmentedUtterance> completed;
    std::size_t offset = 0;
    if (!m_pending.empty()) {
        const std::size_t needed = std::min(m_frameSamples - m_pending.size(), samples.size());
        m_pending.insert(m_pending.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(needed));
        offset = needed;
        if (m_pending.size() < m_frameSamples) return completed;
        const std::vector<float> frame = std::move(m_pending);
        m_pending.clear();
        processFrame(frame, completed);
    }
    while (samples.size() - offset >= m_frameSamples) {
        processFrame(samples.subspan(offset, m_frameSamples), completed);
        offset += m_frameSamples;
    }
    m_pending.assign(samples.begin() + static_cast<std::ptrdiff_t>(offset), samples.end());
    return completed;
}

void UtteranceSegmenter::processFrame(std::span<const float> frame, std::vector<SegmentedUtterance>& completed)
{
    const double frameStart = static_cast<double>(m_samplesTaken) / m_settings.sampleRate;
    m_samplesTaken += frame.size();
    // Both run on every frame: the floor and the model's state follow the whole stream.
    const bool loud = m_detector.isSpeech(frame);
    const bool speech = voiceHeard(frame) && loud;
    if (m_inUtterance)
        continueUtterance(frame, speech, loud, completed);
    else
        awaitOnset(frame, frameStart, speech, loud);
}

void UtteranceSegmenter::awaitOnset(std::span<const float> frame, double frameStart, bool speech, bool loud)
{
    m_recentSpeech.push_back(speech);
    m_recentLoud.push_back(loud);
    if (m_recentSpeech.size() > m_settings.onsetWindow) {
        m_recentSpeech.pop_front();
        m_recentLoud.pop_front();
    }
    const auto count = [](const std::deque<bool>& frames) {
        return static_cast<std::size_t>(std::count(frames.begin(), frames.end(), true));
    };
    // Frames since loudness alone would have begun an utterance.
    m_loudOnsetFrames = count(m_recentLoud) >= m_settings.onsetFrames ? m_loudOnsetFrames + 1 : 0;
    const std::size_t lagFrames = m_voiceModel ? framesIn(m_settings.voiceLagSeconds, m_settings.frameSeconds) : 0;
    m_preRoll.insert(m_preRoll.end(), frame.begin(), frame.end());
    const auto preRollSamples = static_cast<std::size_t>(m_settings.preRollSeconds * m_settings.sampleRate);
    while (m_preRoll.size() > preRollSamples + frame.size() * (m_recentSpeech.size() + lagFrames))
        m_preRoll.pop_front();
    const auto speechCount = count(m_recentSpeech);
    if (speechCount < m_settings.onsetFrames) return;
    // Onset: the utterance holds the pre-roll and the frames of the burst, from where loudness began it.
    const std::size_t lag = std::min(lagFrames, m_loudOnsetFrames > 0 ? m_loudOnsetFrames - 1 : 0);
    const std::size_t take = std::min(m_preRoll.size(), preRollSamples + frame.size() * (m_recentSpeech.size() + lag));
    beginUtterance(take, frameStart + static_cast<double>(frame.size()) / m_settings.sampleRate, speechCount);
}

void UtteranceSegmenter::beginUtterance(std::size_t preRollTaken, double frameEnd, std::size_t speechFrames)
{
    m_inUtterance = true;
    m_continuesCut = false;
    ++m_index;
    m_current.assign(m_preRoll.end() - static_cast<std::ptrdiff_t>(preRollTaken), m_preRoll.end());
    m_currentStart = frameEnd - static_cast<double>(m_current.size()) / m_settings.sampleRate;
    m_currentLevels.clear();
    m_currentPitch.clear();
    for (std::size_t offset = 0; offset + m_frameSamples <= m_current.size(); offset += m_frameSamples) {
        m_currentLevels.push_back(
            VoiceActivityDetector::levelDb(std::span<const float>(m_current.data() + offset, m_frameSamples)));
        m_currentPitch.push_back(pitchPeriodAt(offset + m_frameSamples));
    }
    m_speechFrames = speechFrames;
    m_pauseFrames = 0;
    m_innerPauses.clear();
    m_preRoll.clear();
    m_recentSpeech.clear();
    m_recentLoud.clear();
    m_loudOnsetFrames = 0;
    m_quietFrames = 0;
    m_backgroundPauseFrames = 0;
}

void UtteranceSegmenter::continueUtterance(std::span<const float> frame, bool speech, bool loud,
                                           std::vector<SegmentedUtterance>& completed)
{
    m_current.insert(m_current.end(), frame.begin(), frame.end());
    m_currentLevels.push_back(VoiceActivityDetector::levelDb(frame));
    m_currentPitch.push_back(pitchPeriodAt(m_current.size()));
    const std::size_t pausedBefore = pauseFrames();
    if (speech) {
        ++m_speechFrames;
        m_pauseFrames = 0;
    } else {
        ++m_pauseFrames;
    }
    m_quietFrames = loud ? 0 : m_quietFrames + 1;
    m_backgroundPauseFrames = !loud || quietForTheBackground() ? m_backgroundPauseFrames + 1 : 0;
    if (pauseFrames() < pausedBefore &&
        pausedBefore >= framesIn(m_settings.innerPauseSeconds, m_settings.frameSeconds)) {
        // The speaker went on after a pause: it ended with the frame before this one.
        const std::size_t end = m_current.size() - frame.size();
        const std::size_t length = std::min(end, pausedBefore * m_frameSamples);
        m_innerPauses.push_back({end - length, length});
    }

    if (endPauseReached()) {
        const std::size_t pause = currentPauseSamples();
        if (auto utterance = closeCurrent(m_current.size())) {
            utterance->pauseSamples = pause;
            completed.push_back(std::move(*utterance));
        }
        return;
    }
    const auto maxSamples = static_cast<std::size_t>(m_settings.maximumUtteranceSeconds * m_settings.sampleRate);
    if (m_current.size() >= maxSamples) {
        if (auto utterance = cutAtQuietest()) completed.push_back(std::move(*utterance));
    }
}

bool UtteranceSegmenter::endPauseReached() const
{
    const bool tooShort = !m_continuesCut && static_cast<double>(m_speechFrames) * m_settings.frameSeconds <
                                                 m_settings.shortBurstSpeechSeconds;
    const double endPause =
        tooShort ? std::max(m_settings.endPauseSeconds, m_settings.shortBurstPauseSeconds) : m_settings.endPauseSeconds;
    // Loudness's own pause, or a longer one without a voice, or one far under the speaker over a loud background.
    // Without a model the first two counts are the same; a quiet frame is never a voiced one, so the voiceless count
    // is never the smaller.
    return m_quietFrames >= framesIn(endPause, m_settings.frameSeconds) ||
           m_pauseFrames >= framesIn(std::max(endPause, m_settings.voiceEndPauseSeconds), m_settings.frameSeconds) ||
           m_backgroundPauseFrames >=
               framesIn(std::max(endPause, m_settings.backgroundPauseSeconds), m_settings.frameSeconds);
}

bool UtteranceSegmenter::voiceHeard(std::span<const float> frame)
{
    if (!m_voiceModel) return true;
    const std::size_t window = m_voiceModel->windowSamples();
    for (const float sample : frame) {
        m_voiceWindow.push_back(sample);
        if (m_voiceWindow.size() < window) continue;
        m_voiceProbability = m_voiceModel->probability(m_voiceWindow);
        m_voiceWindow.clear();
    }
    return m_voiceProbability >= (m_inUtterance ? m_settings.voiceHoldProbability : m_settings.voiceOnsetProbability);
}

bool UtteranceSegmenter::quietForTheBackground() const
{
    if (m_settings.relativePauseDb <= 0 || m_currentLevels.empty()) return false;
    const std::size_t recentFrames = framesIn(3.0, m_settings.frameSeconds);
    std::vector<double> recent(m_currentLevels.end() -
                                   static_cast<std::ptrdiff_t>(std::min(m_currentLevels.size(), recentFrames)),
                               m_currentLevels.end());
    const double loudLevel = levelAtTenths(recent, 9);
    return loudLevel - m_detector.noiseFloorDb() < m_settings.noisyFloorGapDb &&
           m_currentLevels.back() < loudLevel - m_settings.relativePauseDb;
}

double UtteranceSegmenter::levelSpreadDb(std::vector<double> levels)
{
    if (levels.size() < 2) return 0;
    const double quiet = levelAtTenths(levels, 1);
    return levelAtTenths(levels, 9) - quiet;
}

std::optional<SegmentedUtterance> UtteranceSegmenter::closeCurrent(std::size_t keepSamples)
{
    // The rest of a cut utterance continues speech already taken: it is kept however short.
    const bool enough = (m_continuesCut || (static_cast<double>(m_speechFrames) * m_settings.frameSeconds >=
                                                m_settings.minimumSpeechSeconds &&
                                            levelSpreadDb(m_currentLevels) >= m_settings.minimumSpreadDb)) &&
                        !soundsTonal();
    m_continuesCut = false;
    SegmentedUtterance utterance;
    utterance.start = m_currentStart;
    utterance.end = m_currentStart + static_cast<double>(keepSamples) / m_settings.sampleRate;
    utterance.index = m_index;
    m_current.resize(keepSamples);
    utterance.samples = std::move(m_current);
    utterance.innerPauses = std::move(m_innerPauses);
    m_innerPauses.clear();
    m_current.clear();
    m_currentLevels.clear();
    m_currentPitch.clear();
    m_inUtterance = false;
    m_speechFrames = 0;
    m_pauseFrames = 0;
    if (!enough) return std::nullopt;
    return utterance;
}

std::optional<SegmentedUtterance> UtteranceSegmenter::cutAtQuietest()
{
    const bool tonal = soundsTonal();
    // Cut inside the quietest frame of the last stretch: mid-word cuts cost the most accuracy.
    const std::size_t frames = m_currentLevels.size();
    const std::size_t searchFrames = std::min(frames, framesIn(m_settings.cutSearchSeconds, m_settings.frameSeconds));
    std::size_t cutFrame = frames;
    double quietest = 1e9;
    for (std::size_t i = frames - searchFrames; i < frames; ++i) {
        if (m_currentLevels[i] < quietest) {
            quietest = m_currentLevels[i];
            cutFrame = i + 1;
        }
    }
    const std::size_t cutSample = std::min(m_current.size(), cutFrame * m_frameSamples);
    SegmentedUtterance utterance;
    utterance.start = m_currentStart;
    utterance.end = m_currentStart + static_cast<double>(cutSample) / m_settings.sampleRate;
    utterance.index = m_index++;
    utterance.samples.assign(m_current.begin(), m_current.begin() + static_cast<std::ptrdiff_t>(cutSample));
    // Pauses before the cut are the cut part's; the rest's are counted from its own start.
    const auto rest = std::find_if(m_innerPauses.begin(), m_innerPauses.end(),
                                   [&](const InnerPause& pause) { return pause.at + pause.samples > cutSample; });
    utterance.innerPauses.assign(m_innerPauses.begin(), rest);
    m_innerPauses.erase(m_innerPauses.begin(), rest);
    for (InnerPause& pause : m_innerPauses) {
        const std::size_t from = std::max(pause.at, cutSample);
        pause.samples -= from - pause.at;
        pause.at = from - cutSample;
    }
    // The rest goes on as a new utterance that is still in speech.
    m_current.erase(m_current.begin(), m_current.begin() + static_cast<std::ptrdiff_t>(cutSample));
    m_currentLevels.erase(m_currentLevels.begin(), m_currentLevels.begin() + static_cast<std::ptrdiff_t>(cutFrame));
    m_currentPitch.erase(m_currentPitch.begin(), m_currentPitch.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                              cutFrame, m_currentPitch.size())));
    m_currentStart = utterance.end;
    m_speechFrames = m_currentLevels.size();
    // The rest of dropped music has to pass on its own.
    m_continuesCut = !tonal;
    if (tonal) return std::nullopt;
    return utterance;
}

int UtteranceSegmenter::pitchPeriodAt(std::size_t end) const
{
    const std::size_t window = 2 * m_frameSamples;
    if (end < window || end > m_current.size()) return 0;
    const float* x = m_current.data() + (end - window);
    const auto shortest = static_cast<std::size_t>(m_settings.sampleRate / 400.0);
    const auto longest = std::min(window / 2, static_cast<std::size_t>(m_settings.sampleRate / 80.0));
    double best = 0;
    std::size_t bestLag = 0;
    for (std::size_t lag = shortest; lag <= longest; ++lag) {
        double cross = 0, head = 0, tail = 0;
        for (std::size_t i = 0; i + lag < window; ++i) {
            cross += static_cast<double>(x[i]) * x[i + lag];
            head += static_cast<double>(x[i]) * x[i];
            tail += static_cast<double>(x[i + lag]) * x[i + lag];
        }
        const double correlation = cross / std::sqrt(head * tail + 1e-20);
        if (correlation > best) {
            best = correlation;
            bestLag = lag;
        }
    }
    // Below this the frame is noise, a click or a consonant.
    constexpr double kVoiced = 0.6;
    return best > kVoiced ? static_cast<int>(bestLag) : 0;
}

double UtteranceSegmenter::steadyPitchShare() const
{
    // Only the stretch's loud frames are judged: they are the sound the stretch is made of, and a background under
    // it holds its own pitch between the syllables.
    double judged = -std::numeric_limits<double>::infinity();
    if (m_settings.steadyPitchWithinDb > 0 && !m_currentLevels.empty()) {
        std::vector<double> levels = m_currentLevels;
        judged = levelAtTenths(levels, 9) - m_settings.steadyPitchWithinDb;
    }
    std::size_t pairs = 0, steady = 0;
    // Levels and pitches are kept frame for frame.
    const std::size_t frames = std::min(m_currentPitch.size(), m_currentLevels.size());
    for (std::size_t i = 1; i < frames; ++i) {
        if (m_currentPitch[i] == 0 || m_currentPitch[i - 1] == 0) continue;
        if (m_currentLevels[i] < judged || m_currentLevels[i - 1] < judged) continue;
        ++pairs;
        if (m_currentPitch[i] == m_currentPitch[i - 1]) ++steady;
    }
    // Too little voicing to tell: a short reply must not be judged by a handful of frames.
    constexpr std::size_t kFewestPairs = 10;
    if (pairs < kFewestPairs) return 0;
    return static_cast<double>(steady) / static_cast<double>(pairs);
}

bool UtteranceSegmenter::soundsTonal() const
{
    return m_settings.maximumSteadyPitchShare < 1.0 && steadyPitchShare() > m_settings.maximumSteadyPitchShare;
}

std::vector<SegmentedUtterance> UtteranceSegmenter::finish()
{
    std::vector<SegmentedUtterance> completed;
    if (!m_pending.empty()) {
        std::vector<float> frame = std::move(m_pending);
        m_pending.clear();
        processFrame(frame, completed);
    }
    if (m_inUtterance) {
        if (auto utterance = closeCurrent(m_current.size())) completed.push_back(std::move(*utterance));
    }
    return completed;
}

} // namespace tc
