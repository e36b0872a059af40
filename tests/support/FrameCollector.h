#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "support/Locked.h"

#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace tc::test {

// Reads a frame stream on a thread of its own and keeps every frame, so a test can wait with a timeout
// without giving the stream up. Destruction cancels the stream. Thread-safe.
class FrameCollector {
public:
    explicit FrameCollector(AudioFrameStream stream);
    ~FrameCollector();
    FrameCollector(const FrameCollector&) = delete;
    FrameCollector& operator=(const FrameCollector&) = delete;

    // Waits until the predicate holds for the frames so far (or the stream has ended); whether it holds.
    bool waitFor(const std::function<bool(const std::vector<AudioFrame>&)>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Waits until the stream has ended; whether it did in time.
    bool waitForEnd(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
    {
        return m_lock.waitFor(timeout, [&] { return m_ended; });
    }
    std::vector<AudioFrame> frames() const { return m_lock.read(m_frames); }
    // The error the stream failed with; null while open or when it finished normally.
    std::exception_ptr failure() const { return m_lock.read(m_failure); }

    // Samples at this rate so far.
    static std::size_t samplesAt(const std::vector<AudioFrame>& frames, double rate);
    // RMS of the samples at this rate, skipping the first skip of them.
    static double rmsAt(const std::vector<AudioFrame>& frames, double rate, std::size_t skip = 0);

private:
    AudioFrameStream m_stream;
    Locked m_lock;
    std::vector<AudioFrame> m_frames;
    bool m_ended = false;
    std::exception_ptr m_failure;
    std::jthread m_reader;
};

} // namespace tc::test
