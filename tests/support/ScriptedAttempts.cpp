#include "support/ScriptedAttempts.h"

namespace tc::test {

class AttemptScript::Source : public AudioSource {
public:
    explicit Source(AttemptScript& script) : m_script(script) {}

    AudioFrameStream start() override
    {
        std::lock_guard lock(m_script.m_mutex);
        ++m_script.m_starts;
        if (m_script.m_attempts.empty()) throw ScriptedError("台本が尽きました");
        m_script.m_current = m_script.m_attempts.front();
        m_script.m_attempts.pop_front();
        m_script.m_now += m_script.m_current->seconds;
        if (m_script.m_current->startError) {
            if (m_script.m_current->recovery)
                throw PortFailure(*m_script.m_current->startError, *m_script.m_current->recovery);
            throw ScriptedError(*m_script.m_current->startError);
        }
        m_frames = Channel<AudioFrame>::make();
        return m_frames;
    }

    void stop() override
    {
        std::lock_guard lock(m_script.m_mutex);
        ++m_script.m_stops;
        if (m_frames) m_frames->finish();
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
        Attempt attempt;
        {
            std::lock_guard lock(m_script.m_mutex);
            attempt = m_script.m_current.value_or(Attempt{});
        }
        segments->onTermination([this] {
            std::lock_guard lock(m_script.m_mutex);
            ++m_script.m_transcriptsEnded;
        });
        for (auto& segment : attempt.segments)
            segments->yield(segment);
        if (attempt.streamError) {
            segments->fail(attempt.recovery
                               ? std::make_exception_ptr(PortFailure(*attempt.streamError, *attempt.recovery))
                               : std::make_exception_ptr(ScriptedError(*attempt.streamError)));
        } else if (!attempt.hangAfterSegments) {
            segments->finish();
        }
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

double AttemptScript::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

int AttemptScript::starts() const
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

int AttemptScript::stops() const
{
    std::lock_guard lock(m_mutex);
    return m_stops;
}

int AttemptScript::transcriptsEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_transcriptsEnded;
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
