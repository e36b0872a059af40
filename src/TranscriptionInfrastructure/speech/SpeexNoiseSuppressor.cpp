#include "TranscriptionInfrastructure/speech/SpeexNoiseSuppressor.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>

namespace tc {

void SpeexNoiseSuppressor::Deleter::operator()(SpeexPreprocessState_* state) const
{
    speex_preprocess_state_destroy(state);
}

SpeexNoiseSuppressor::SpeexNoiseSuppressor(std::unique_ptr<SpeexPreprocessState_, Deleter> state,
                                           std::size_t frameSamples, std::size_t historySamples)
    : m_state(std::move(state)), m_frameSamples(frameSamples), m_historySamples(historySamples), m_frame(frameSamples)
{}

std::optional<SpeexNoiseSuppressor> SpeexNoiseSuppressor::make(int sampleRate, int suppressionDb,
                                                               double historySeconds)
{
    if (sampleRate < 8000 || sampleRate > 48000 || !(historySeconds > 0)) return std::nullopt;
    const int frameSamples = sampleRate / 50;
    SpeexPreprocessState* state = speex_preprocess_state_init(frameSamples, sampleRate);
    if (!state) return std::nullopt;
    std::unique_ptr<SpeexPreprocessState_, Deleter> owned(state);
    int on = 1;
    int off = 0;
    // Only the denoiser: level changes would fight the decoder's own normalisation.
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_VAD, &off);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppressionDb);
    return SpeexNoiseSuppressor(std::move(owned), static_cast<std::size_t>(frameSamples),
                                static_cast<std::size_t>(historySeconds * sampleRate));
}

void SpeexNoiseSuppressor::append(std::span<const float> samples)
{
    m_pending.insert(m_pending.end(), samples.begin(), samples.end());
    std::size_t used = 0;
    for (; used + m_frameSamples <= m_pending.size(); used += m_frameSamples) {
        for (std::size_t i = 0; i < m_frameSamples; ++i)
            m_frame[i] =
                static_cast<std::int16_t>(std::lround(std::clamp(m_pending[used + i], -1.0F, 1.0F) * 32767.0F));
        speex_preprocess_run(m_state.get(), m_frame.data());
        for (const std::int16_t sample : m_frame)
            m_history.push_back(static_cast<float>(sample) / 32768.0F);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
    // Trimmed in large steps, so each sample is moved about once.
    if (m_history.size() > 2 * m_historySamples) {
        const std::size_t drop = m_history.size() - m_historySamples;
        m_history.erase(m_history.begin(), m_history.begin() + static_cast<std::ptrdiff_t>(drop));
        m_historyStart += drop;
    }
}

std::vector<float> SpeexNoiseSuppressor::cleaned(std::size_t first, std::span<const float> raw) const
{
    std::vector<float> out(raw.begin(), raw.end());
    const std::size_t historyEnd = m_historyStart + m_history.size();
    const std::size_t from = std::max(first, m_historyStart);
    const std::size_t to = std::min(first + raw.size(), historyEnd);
    for (std::size_t at = from; at < to; ++at)
        out[at - first] = m_history[at - m_historyStart];
    return out;
}

} // namespace tc
