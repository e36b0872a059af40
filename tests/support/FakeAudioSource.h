#pragma once

#include "TranscriptionApplication/AudioSource.h"

#include <mutex>
#include <optional>
#include <string>

namespace tc::test {

// An audio source the test feeds by hand. It can be told to fail its next start; stop() finishes the stream.
// Thread-safe (one mutex inside).
class FakeAudioSource : public AudioSource {
public:
    explicit FakeAudioSource(bool continuous = true);

    AudioFrameStream start() override;
    void stop() override;
    bool isContinuous() const override { return m_continuous; }

    // The next start() throws a std::runtime_error with this message.
    void failNextStart(std::string message);
    // Appends a frame to the running stream; false when not started or already stopped.
    bool push(AudioFrame frame);
    // Ends the running stream as if the input ended.
    void finish();

    int starts() const;
    int stops() const;
    bool isStarted() const;

private:
    const bool m_continuous;
    mutable std::mutex m_mutex;
    AudioFrameStream m_stream;
    std::optional<std::string> m_failure;
    int m_starts = 0;
    int m_stops = 0;
};

} // namespace tc::test
