#pragma once

#include "TranscriptionDomain/AudioFrame.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

struct soxr;

namespace tc {

// Sums the signals of several members into one at a common rate, aligned by arrival: each member is
// resampled (libsoxr) and queued; mixed audio goes out as soon as every member still delivering has some.
// A member that has delivered nothing for stallTimeout counts as silent until it delivers again, and one
// that ends no longer holds the others up. The sum is soft-limited so that it never leaves [-1, 1].
// Producers push from their own threads, one consumer takes mixed frames; thread-safe (one mutex inside).
class AudioMixer {
public:
    struct Options {
        double rate = 48000;
        std::chrono::milliseconds stallTimeout{100};
        // A member further ahead than this goes out with the others' share silent, so drift cannot pile up.
        std::chrono::milliseconds maxBacklog{400};
    };

    AudioMixer(std::size_t members, Options options);
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // Queues one frame of a member, resampled to the common rate; ignored after end(member).
    void push(std::size_t member, const AudioFrame& frame);
    // The member delivers no more; what it queued is still mixed.
    void end(std::size_t member);
    // The next mixed frame, waiting for one; nothing once every member has ended and everything went out,
    // or when stop is requested.
    std::optional<AudioFrame> next(std::stop_token stop);

    double rate() const { return m_options.rate; }

private:
    struct SoxrDeleter {
        void operator()(soxr* resampler) const;
    };
    struct Member {
        std::unique_ptr<soxr, SoxrDeleter> resampler;
        double inputRate = 0;
        std::deque<float> queue;
        std::chrono::steady_clock::time_point lastArrival;
        bool ended = false;
    };

    void resampleInto(Member& member, const float* samples, std::size_t count);
    void flush(Member& member);
    std::size_t samplesFor(std::chrono::milliseconds duration) const;

    const Options m_options;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<Member> m_members;
    std::int64_t m_emitted = 0;
    // Bumped by every push and end, so that a waiting consumer sees that something changed.
    std::uint64_t m_version = 0;
};

} // namespace tc
