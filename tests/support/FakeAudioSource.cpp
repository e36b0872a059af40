#include "support/FakeAudioSource.h"

#include <stdexcept>

namespace tc::test {

FakeAudioSource::FakeAudioSource(bool continuous) : m_continuous(continuous) {}

AudioFrameStream FakeAudioSource::start()
{
    std::lock_guard lock(m_mutex);
    ++m_starts;
    if (m_failure) {
        const auto message = *std::exchange(m_failure, std::nullopt);
        throw std::runtime_error(message);
    }
    m_stream = Channel<AudioFrame>::make();
    return m_stream;
}

void FakeAudioSource::stop()
{
    AudioFrameStream stream;
    {
        std::lock_guard lock(m_mutex);
        ++m_stops;
        stream = m_stream;
    }
    if (stream) stream->finish();
}

void FakeAudioSource::failNextStart(std::string message)
{
    std::lock_guard lock(m_mutex);
    m_failure = std::move(message);
}

bool FakeAudioSource::push(AudioFrame frame)
{
    std::lock_guard lock(m_mutex);
    return m_stream && m_stream->yield(std::move(frame));
}

void FakeAudioSource::finish()
{
    std::lock_guard lock(m_mutex);
    if (m_stream) m_stream->finish();
}

int FakeAudioSource::starts() const
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

int FakeAudioSource::stops() const
{
    std::lock_guard lock(m_mutex);
    return m_stops;
}

bool FakeAudioSource::isStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_stream && !m_stream->isEnded();
}

} // namespace tc::test
