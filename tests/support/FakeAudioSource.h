#pragma once

#include "TranscriptionApplication/AudioSource.h"

#include <exception>
#include <mutex>

namespace tc::test {

// An audio source the test drives: start() throws what failStarts() set or hands out a stream that the test feeds
// through deliver() and ends through finish() or breakOff(); stop() finishes it, as a real source does. Counts
// calls. Thread-safe (one mutex inside, never held while the stream is touched).
class FakeAudioSource : public AudioSource {
public:
    explicit FakeAudioSource(bool continuous = true);

    AudioFrameStream start() override;
    void stop() override;
    bool isContinuous() const override { return m_continuous; }

    // Every start() from now on throws this error (none when null).
    void failStarts(std::exception_ptr error);
    // Feeds one frame into the stream of the last start(); false when there is none or it has ended.
    bool deliver(AudioFrame frame);
    // Ends the stream of the last start() as an input that ran out would.
    void finish();
    // Fails the stream of the last start() as a device that went away would.
    void breakOff(std::exception_ptr error);

    int starts() const;
    int stops() const;
    // Whether the stream of the last start() is still open.
    bool isStarted() const;

private:
    AudioFrameStream current() const;

    const bool m_continuous;
    mutable std::mutex m_mutex;
    AudioFrameStream m_stream;
    std::exception_ptr m_startError;
    int m_starts = 0;
    int m_stops = 0;
};

} // namespace tc::test
