#pragma once

#include "TranscriptionDomain/AudioFrame.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

struct soxr;

namespace tc {

class SourceEnergyHistory;

// Sums the signals of several members into one at a common rate, aligned by arrival: each member is
// resampled (libsoxr) and queued; mixed audio goes out, on the pushing thread, as soon as every member still
// delivering has some. A member that has delivered nothing for stallTimeout counts as silent until it
// delivers again (the stall timer lets the others out), and one that ends no longer holds the others up.
// The sum is soft-limited so that it never leaves [-1, 1]. Thread-safe (one mutex inside, held while the
// output is called, which keeps the mixed frames in order).
class AudioMixer {
public:
    struct Options {
        double rate = 48000;
        std::chrono::milliseconds stallTimeout{100};
        // A member further ahead than this goes out with the others' share silent, so drift cannot pile up.
        std::chrono::milliseconds maxBacklog{400};
    };
    // Receives each mixed frame, in order.
    using Output = std::function<void(AudioFrame frame)>;

    // With a history, each member's share of every mixed frame is recorded in it, at the frame's position.
    AudioMixer(std::size_t members, Options options, Output output,
               std::shared_ptr<SourceEnergyHistory> history = nullptr);
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // Queues one frame of a member, resampled to the common rate, and lets out what is ready; ignored after
    // end(member).
    void push(std::size_t member, const AudioFrame& frame);
    // The member delivers no more; what it queued still goes out. After the last member's end, everything
    // queued has gone out.
    void end(std::size_t member);
    // Lets audio out that waits only on stalled members, when their time comes; returns once every member
    // has ended, or on stop.
    void runStallTimer(std::stop_token stop);

    // The common rate of the mixed frames.
    double rate() const { return m_options.rate; }

private:
    struct SoxrDeleter {
        void operator()(soxr* resampler) const;
    };
    struct Member {
        std::unique_ptr<soxr, SoxrDeleter> resampler;
        double inputRate = 0;
        std::vector<float> queue;
        std::chrono::steady_clock::time_point lastArrival;
        bool ended = false;
    };

    void resampleInto(Member& member, const float* samples, std::size_t count);
    void flush(Member& member);
    std::size_t samplesFor(std::chrono::milliseconds duration) const;
    // Sends out every mixed frame that is ready now; the earliest time a silent member stalls, when audio
    // is left waiting for it. With the lock held.
    std::optional<std::chrono::steady_clock::time_point> release();
    bool allEnded() const;

    const Options m_options;
    const Output m_output;
    const std::shared_ptr<SourceEnergyHistory> m_history;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<Member> m_members;
    std::int64_t m_emitted = 0;
    // Whether the stall timer waits without a deadline, and so must be told when audio starts waiting.
    bool m_timerIdle = false;
};

} // namespace tc
