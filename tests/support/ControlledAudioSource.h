#pragma once

#include "TranscriptionApplication/AudioSource.h"

#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace tc::test {

// An audio source the test drives: start() throws a given error or hands out a stream that the test feeds
// through deliver() and ends through finish(); stop() finishes it, as a real source does. Counts calls.
// Thread-safe (one mutex inside).
class ControlledAudioSource : public AudioSource {
public:
    explicit ControlledAudioSource(bool continuous = true, std::optional<std::string> startError = std::nullopt);

    AudioFrameStream start() override;
    void stop() override;
    bool isContinuous() const override { return m_continuous; }

    // Feeds one frame into the stream of the last start(); false when there is none or it has ended.
    bool deliver(AudioFrame frame);
    // Ends the stream of the last start() as a device that went away would.
    void finish();
    int starts() const;
    int stops() const;
    // Whether the stream of the last start() has ended (finished, or given up by its consumer).
    bool streamEnded() const;

private:
    const bool m_continuous;
    const std::optional<std::string> m_startError;
    mutable std::mutex m_mutex;
    AudioFrameStream m_stream;
    int m_starts = 0;
    int m_stops = 0;
};

} // namespace tc::test
