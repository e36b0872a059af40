#pragma once

#include "TranscriptionApplication/Transcriber.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tc::test {

// A transcriber whose segments the test emits by hand into the latest recognition. Each recognition drains its
// frames on a thread of its own and ends when they end (or fails, when told to). Thread-safe (one mutex inside).
class ScriptedTranscriber : public Transcriber {
public:
    ScriptedTranscriber() = default;
    ~ScriptedTranscriber() override;

    SegmentStream transcribe(AudioFrameStream frames) override;

    // Appends a segment to the latest recognition; false when there is none or it has ended.
    bool emitSegment(const std::string& text, bool isFinal);
    // Waits until at least n recognitions have begun (or the timeout passes); true when they have.
    bool waitForRecognitions(int n, std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    SegmentStream m_current;
    std::vector<std::jthread> m_threads;
    int m_recognitions = 0;
};

} // namespace tc::test
