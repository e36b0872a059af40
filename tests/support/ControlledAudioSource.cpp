#include "support/ControlledAudioSource.h"

namespace tc::test {

ControlledAudioSource::ControlledAudioSource(bool continuous, std::optional<std::string> startError)
    : m_continuous(continuous), m_startError(std::move(startError))
{}

AudioFrameStream ControlledAudioSource::start()
{
    std::lock_guard lock(m_mutex);
    ++m_starts;
    if (m_startError) throw std::runtime_error(*m_startError);
    m_stream = Channel<AudioFrame>::make();
    return m_stream;
}

void ControlledAudioSource::stop()
{
    AudioFrameStream stream;
    {
        std::lock_guard lock(m_mutex);
        ++m_stops;
        stream = m_stream;
    }
    if (stream) stream->finish();
}

bool ControlledAudioSource::deliver(AudioFrame frame)
{
    AudioFrameStream stream;
    {
        std::lock_guard lock(m_mutex);
        stream = m_stream;
    }
    return stream && stream->yield(std::move(frame));
}

void ControlledAudioSource::finish()
{
    AudioFrameStream stream;
    {
        std::lock_guard lock(m_mutex);
        stream = m_stream;
    }
    if (stream) stream->finish();
}

int ControlledAudioSource::starts() const
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

int ControlledAudioSource::stops() const
{
    std::lock_guard lock(m_mutex);
    return m_stops;
}

bool ControlledAudioSource::streamEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_stream && m_stream->isEnded();
}

} // namespace tc::test
