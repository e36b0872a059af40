#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/OutputSink.h"
#include "TranscriptionApplication/PortFailure.h"
#include "TranscriptionApplication/Transcriber.h"
#include "support/Locked.h"
#include "support/RecordingSink.h"

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tc::test {

// What one attempt of a session does: the source's start() may throw, the transcript stream delivers
// segments and then ends or fails, and the attempt takes some time on the shared manual clock.
struct Attempt {
    std::optional<std::string> startError;
    std::vector<TranscriptSegment> segments;
    std::optional<std::string> streamError;
    double seconds = 0.1;
    // When set, the stream stays open after its segments until the consumer gives up.
    bool hangAfterSegments = false;
    // When set, both errors are PortFailures with this advice instead of plain errors.
    std::optional<PortFailure::Recovery> recovery;
};

struct ScriptedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A manual clock plus an audio source and transcriber that play a list of attempts. Thread-safe.
class AttemptScript : private AudioSource, private Transcriber {
public:
    explicit AttemptScript(std::vector<Attempt> attempts, bool continuous = true)
        : m_attempts(attempts.begin(), attempts.end()), m_continuous(continuous)
    {}

    // The script as the runner's source and transcriber; it outlives both.
    std::shared_ptr<AudioSource> source() { return {std::shared_ptr<void>(), static_cast<AudioSource*>(this)}; }
    std::shared_ptr<Transcriber> transcriber() { return {std::shared_ptr<void>(), static_cast<Transcriber*>(this)}; }
    double now() const { return m_lock.read(m_now); }

    int starts() const { return m_lock.read(m_starts); }
    int stops() const { return m_lock.read(m_stops); }
    // Transcript streams that ended (finished, failed or given up by the consumer).
    int transcriptsEnded() const { return m_lock.read(m_transcriptsEnded); }

private:
    AudioFrameStream start() override;
    void stop() override;
    bool isContinuous() const override { return m_continuous; }
    SegmentStream transcribe(AudioFrameStream) override;

    Locked m_lock;
    std::deque<Attempt> m_attempts;
    std::optional<Attempt> m_current;
    AudioFrameStream m_frames;
    bool m_continuous;
    double m_now = 1000;
    int m_starts = 0;
    int m_stops = 0;
    int m_transcriptsEnded = 0;
};

TranscriptSegment volatileSegment(std::string text);
TranscriptSegment finalSegment(std::string text);

} // namespace tc::test
