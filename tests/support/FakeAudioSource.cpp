#include "support/FakeAudioSource.h"

namespace tc::test {

FakeAudioSource::FakeAudioSource(bool continuous) : m_continuous(continuous) {}

AudioFrameStream FakeAudioSource::start()
{
    std::lock_guard lock(m_mutex);
    ++m_starts;
    if (m_startError) std::rethrow_exception(m_startError);
    m_stream = Channel<AudioFrame>::make();
    return m_stream;
}

void FakeAudioSource::stop()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_stops;
    }
    finish();
}

void FakeAudioSource::failStarts(std::exception_ptr error)
{
    std::lock_guard lock(m_mutex);
    m_startError = std::move(error);
}

AudioFrameStream FakeAudioSource::current() const
{
    std::lock_guard lock(m_mutex);
    return m_stream;
}

bool FakeAudioSource::deliver(AudioFrame frame)
{
    const auto stream = current();
    return stream && stream->yield(std::move(frame));
}

void FakeAudioSource::finish()
{
    if (const auto stream = current()) stream->finish();
}

void FakeAudioSource::breakOff(std::exception_ptr error)
{
    if (const auto stream = current()) stream->fail(std::move(error));
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
    const auto stream = current();
    return stream && !stream->isEnded();
}

} // namespace tc::test
