#pragma once

#include "TranscriptionApplication/Transcriber.h"
#include "support/Locked.h"

#include <string>
#include <thread>
#include <vector>

namespace tc::test {

// A transcriber whose segments the test emits by hand into the latest recognition. Each recognition drains its
// frames on a thread of its own and ends when they end (or fails, when told to). Thread-safe.
class ScriptedTranscriber : public Transcriber {
public:
    ~ScriptedTranscriber() override;

    SegmentStream transcribe(AudioFrameStream frames) override;

    // Appends a segment to the latest recognition; false when there is none or it has ended.
    bool emitSegment(const std::string& text, bool isFinal);
    // Waits until at least n recognitions have begun (or the timeout passes); true when they have.
    bool waitForRecognitions(int n, std::chrono::milliseconds timeout)
    {
        return m_lock.waitFor(timeout, [&] { return m_recognitions >= n; });
    }

private:
    Locked m_lock;
    SegmentStream m_current;
    std::vector<std::jthread> m_threads;
    int m_recognitions = 0;
};

} // namespace tc::test
