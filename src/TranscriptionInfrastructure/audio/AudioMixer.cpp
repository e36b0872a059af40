#include "TranscriptionInfrastructure/audio/AudioMixer.h"

#include "TranscriptionInfrastructure/audio/SourceEnergyHistory.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <span>

namespace tc {

namespace {

// Passes the sum through below the knee and bends it smoothly towards ±1 above, instead of clipping.
float softLimit(float x)
{
    constexpr float knee = 0.8f;
    const float magnitude = std::fabs(x);
    if (magnitude <= knee) return x;
    const float bent = knee + (1.0f - knee) * std::tanh((magnitude - knee) / (1.0f - knee));
    return std::copysign(bent, x);
}

} // namespace

void AudioMixer::SoxrDeleter::operator()(soxr* resampler) const
{
    soxr_delete(resampler);
}

AudioMixer::AudioMixer(std::size_t members, Options options, Output output,
                       std::shared_ptr<SourceEnergyHistory> history)
    : m_options(options), m_output(std::move(output)), m_history(std::move(history)), m_members(members)
{
    const auto now = std::chrono::steady_clock::now();
    for (auto& member : m_members)
        member.lastArrival = now;
}

AudioMixer::~AudioMixer() = default;

std::size_t AudioMixer::samplesFor(std::chrono::milliseconds duration) const
{
    return static_cast<std::size_t>(m_options.rate * static_cast<double>(duration.count()) / 1000.0);
}

void AudioMixer::resampleInto(Member& member, const float* samples, std::size_t count)
{
    if (!member.resampler) {
        member.queue.insert(member.queue.end(), samples, samples + count);
        return;
    }
    const double ratio = m_options.rate / member.inputRate;
    std::vector<float> out(static_cast<std::size_t>(std::ceil(static_cast<double>(count) * ratio)) + 64);
    std::size_t consumed = 0;
    // A null input asks soxr for what it still holds (the end of a member or of a rate).
    const bool draining = samples == nullptr;
    for (int rounds = 0; rounds < 64; ++rounds) {
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_process(member.resampler.get(), draining ? nullptr : samples + consumed, count - consumed, &used,
                     out.data(), out.size(), &made);
        consumed += used;
        member.queue.insert(member.queue.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(made));
        if (draining ? made == 0 : (consumed >= count && made < out.size())) break;
    }
}

void AudioMixer::flush(Member& member)
{
    if (member.resampler) resampleInto(member, nullptr, 0);
}

bool AudioMixer::allEnded() const
{
    return std::all_of(m_members.begin(), m_members.end(), [](const Member& m) { return m.ended; });
}

std::optional<std::chrono::steady_clock::time_point> AudioMixer::release()
{
    const auto now = std::chrono::steady_clock::now();
    for (;;) {
        bool anyGating = false;
        std::size_t mostQueued = 0;
        std::size_t leastGating = SIZE_MAX;
        std::optional<std::chrono::steady_clock::time_point> nextStall;
        for (const auto& m : m_members) {
            mostQueued = std::max(mostQueued, m.queue.size());
            if (m.ended) continue;
            const auto stallsAt = m.lastArrival + m_options.stallTimeout;
            if (m.queue.empty() && now >= stallsAt) continue;
            anyGating = true;
            leastGating = std::min(leastGating, m.queue.size());
            if (m.queue.empty()) nextStall = nextStall ? std::min(*nextStall, stallsAt) : stallsAt;
        }
        if (mostQueued == 0) return std::nullopt;
        std::size_t n = anyGating ? leastGating : mostQueued;
        if (mostQueued > samplesFor(m_options.maxBacklog)) n = mostQueued;
        if (n == 0) return nextStall;

        AudioFrame frame;
        frame.samples.assign(n, 0.0f);
        for (std::size_t index = 0; index < m_members.size(); ++index) {
            auto& m = m_members[index];
            const std::size_t take = std::min(n, m.queue.size());
            if (m_history) m_history->add(index, m_emitted, std::span<const float>(m.queue.data(), take));
            for (std::size_t i = 0; i < take; ++i)
                frame.samples[i] += m.queue[i];
            m.queue.erase(m.queue.begin(), m.queue.begin() + static_cast<std::ptrdiff_t>(take));
        }
        for (float& s : frame.samples)
            s = softLimit(s);
        frame.sampleRate = m_options.rate;
        frame.timestamp = static_cast<double>(m_emitted) / m_options.rate;
        m_emitted += static_cast<std::int64_t>(n);
        m_output(std::move(frame));
    }
}

void AudioMixer::push(std::size_t member, const AudioFrame& frame)
{
    std::lock_guard lock(m_mutex);
    if (member >= m_members.size()) return;
    Member& m = m_members[member];
    if (m.ended || !(frame.sampleRate > 0)) return;
    if (frame.sampleRate != m.inputRate) {
        flush(m);
        m.resampler.reset();
        m.inputRate = frame.sampleRate;
        if (frame.sampleRate != m_options.rate) {
            const auto io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const auto quality = soxr_quality_spec(SOXR_MQ, 0);
            soxr_error_t error = nullptr;
            m.resampler.reset(soxr_create(frame.sampleRate, m_options.rate, 1, &error, &io, &quality, nullptr));
            // Without a resampler the member's frames cannot join the mix at the right speed.
            if (error || !m.resampler) {
                m.resampler.reset();
                m.inputRate = 0;
                return;
            }
        }
    }
    resampleInto(m, frame.samples.data(), frame.samples.size());
    m.lastArrival = std::chrono::steady_clock::now();
    // Only an idle timer needs waking; one already waiting for a deadline looks again then.
    if (release() && m_timerIdle) {
        m_timerIdle = false;
        m_changed.notify_all();
    }
}

void AudioMixer::end(std::size_t member)
{
    std::lock_guard lock(m_mutex);
    if (member >= m_members.size() || m_members[member].ended) return;
    flush(m_members[member]);
    m_members[member].ended = true;
    release();
    m_changed.notify_all();
}

void AudioMixer::runStallTimer(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested() && !allEnded()) {
        const auto deadline = release();
        m_timerIdle = !deadline;
        if (deadline)
            m_changed.wait_until(lock, stop, *deadline, [this] { return allEnded(); });
        else
            m_changed.wait(lock, stop, [this] { return allEnded() || !m_timerIdle; });
    }
}

} // namespace tc
