#include "support/ScriptedAttempts.h"

namespace tc::test {

namespace {

std::exception_ptr scriptedFailure(const std::string& message, const std::optional<PortFailure::Recovery>& recovery)
{
    return recovery ? std::make_exception_ptr(PortFailure(message, *recovery))
                    : std::make_exception_ptr(ScriptedError(message));
}

} // namespace

class AttemptScript::Source : public AudioSource {
public:
    explicit Source(AttemptScript& script) : m_script(script) {}

    AudioFrameStream start() override
    {
        return m_script.m_lock.change([&] {
            auto& script = m_script;
            ++script.m_starts;
            if (script.m_attempts.empty()) throw ScriptedError("台本が尽きました");
            script.m_current = script.m_attempts.front();
            script.m_attempts.pop_front();
            script.m_now += script.m_current->seconds;
            if (script.m_current->startError)
                std::rethrow_exception(scriptedFailure(*script.m_current->startError, script.m_current->recovery));
            return m_frames = Channel<AudioFrame>::make();
        });
    }

    void stop() override
    {
        m_script.m_lock.change([&] {
            ++m_script.m_stops;
            if (m_frames) m_frames->finish();
        });
    }

    bool isContinuous() const override { return m_script.m_continuous; }

private:
    AttemptScript& m_script;
    AudioFrameStream m_frames;
};

class AttemptScript::ScriptTranscriber : public Transcriber {
public:
    explicit ScriptTranscriber(AttemptScript& script) : m_script(script) {}

    SegmentStream transcribe(AudioFrameStream) override
    {
        auto segments = Channel<TranscriptSegment>::make();
        const Attempt attempt = m_script.m_lock.read(m_script.m_current).value_or(Attempt{});
        segments->onTermination([this] { m_script.m_lock.change([&] { ++m_script.m_transcriptsEnded; }); });
        for (auto& segment : attempt.segments)
            segments->yield(segment);
        if (attempt.streamError)
            segments->fail(scriptedFailure(*attempt.streamError, attempt.recovery));
        else if (!attempt.hangAfterSegments)
            segments->finish();
        return segments;
    }

private:
    AttemptScript& m_script;
};

AttemptScript::AttemptScript(std::vector<Attempt> attempts, bool continuous)
    : m_attempts(attempts.begin(), attempts.end()), m_continuous(continuous)
{}

std::shared_ptr<AudioSource> AttemptScript::source()
{
    return std::make_shared<Source>(*this);
}

std::shared_ptr<Transcriber> AttemptScript::transcriber()
{
    return std::make_shared<ScriptTranscriber>(*this);
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
