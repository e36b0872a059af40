#include "support/ScriptedAttempts.h"

namespace tc::test {

namespace {

std::exception_ptr scriptedFailure(const std::string& message, const std::optional<PortFailure::Recovery>& recovery)
{
    return recovery ? std::make_exception_ptr(PortFailure(message, *recovery))
                    : std::make_exception_ptr(ScriptedError(message));
}

} // namespace

AudioFrameStream AttemptScript::start()
{
    return m_lock.change([&] {
        ++m_starts;
        if (m_attempts.empty()) throw ScriptedError("台本が尽きました");
        m_current = m_attempts.front();
        m_attempts.pop_front();
        m_now += m_current->seconds;
        if (m_current->startError) std::rethrow_exception(scriptedFailure(*m_current->startError, m_current->recovery));
        return m_frames = Channel<AudioFrame>::make();
    });
}

void AttemptScript::stop()
{
    m_lock.change([&] {
        ++m_stops;
        if (m_frames) m_frames->finish();
    });
}

SegmentStream AttemptScript::transcribe(AudioFrameStream)
{
    auto segments = Channel<TranscriptSegment>::make();
    const Attempt attempt = m_lock.read(m_current).value_or(Attempt{});
    segments->onTermination([this] { m_lock.change([&] { ++m_transcriptsEnded; }); });
    for (auto& segment : attempt.segments)
        segments->yield(segment);
    if (attempt.streamError)
        segments->fail(scriptedFailure(*attempt.streamError, attempt.recovery));
    else if (!attempt.hangAfterSegments)
        segments->finish();
    return segments;
}

TranscriptSegment volatileSegment(std::string text)
{
    return {Uuid::random(), std::move(text), TranscriptSegment::Status::volatile_, 0, 1};
}

TranscriptSegment finalSegment(std::string text)
{
    return {Uuid::random(), std::move(text), TranscriptSegment::Status::finalized, 0, 1};
}

} // namespace tc::test
