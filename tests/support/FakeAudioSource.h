#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "support/Locked.h"

#include <exception>

namespace tc::test {

// An audio source the test drives: start() throws what failStarts() set or hands out a stream that the test feeds
// through deliver() and ends through finish() or breakOff(); stop() finishes it, as a real source does. Counts
// calls. Thread-safe (the lock is never held while the stream is touched).
class FakeAudioSource : public AudioSource {
public:
    explicit FakeAudioSource(bool continuous = true) : m_continuous(continuous) {}

    AudioFrameStream start() override;
    void stop() override;
    bool isContinuous() const override { return m_continuous; }

    // Every start() from now on throws this error (none when null).
    void failStarts(std::exception_ptr error) { m_lock.set(m_startError, std::move(error)); }
    // Feeds one frame into the stream of the last start(); false when there is none or it has ended.
    bool deliver(AudioFrame frame);
    // Ends the stream of the last start() as an input that ran out would.
    void finish();
    // Fails the stream of the last start() as a device that went away would.
    void breakOff(std::exception_ptr error);

    int starts() const { return m_lock.read(m_starts); }
    int stops() const { return m_lock.read(m_stops); }
    // Whether the stream of the last start() is still open.
    bool isStarted() const;

private:
    const bool m_continuous;
    Locked m_lock;
    AudioFrameStream m_stream;
    std::exception_ptr m_startError;
    int m_starts = 0;
    int m_stops = 0;
};

} // namespace tc::test
