#include "support/FakeAudioSource.h"

namespace tc::test {

AudioFrameStream FakeAudioSource::start()
{
    return m_lock.change([&] {
        ++m_starts;
        if (m_startError) std::rethrow_exception(m_startError);
        return m_stream = Channel<AudioFrame>::make();
    });
}

void FakeAudioSource::stop()
{
    m_lock.change([&] { ++m_stops; });
    finish();
}

bool FakeAudioSource::deliver(AudioFrame frame)
{
    const auto stream = m_lock.read(m_stream);
    return stream && stream->yield(std::move(frame));
}

void FakeAudioSource::finish()
{
    if (const auto stream = m_lock.read(m_stream)) stream->finish();
}

void FakeAudioSource::breakOff(std::exception_ptr error)
{
    if (const auto stream = m_lock.read(m_stream)) stream->fail(std::move(error));
}

bool FakeAudioSource::isStarted() const
{
    const auto stream = m_lock.read(m_stream);
    return stream && !stream->isEnded();
}

} // namespace tc::test
