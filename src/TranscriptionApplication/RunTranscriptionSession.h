#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/OutputSink.h"
#include "TranscriptionApplication/Transcriber.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

namespace tc {

// Drives one session: audio into the transcriber, segments into the sink as events, restarting a
// continuous source after breaks with a growing delay. A source whose device or sound server is gone for now
// (PortFailure::Recovery::waitForReturn) is waited for, up to maxOutageSeconds, with one notice when the wait
// begins and one when capture resumes; such waiting never counts as a failed attempt. A failure that no restart
// can mend (Recovery::none) stops the session at once. A finalized event carries its audio times in seconds from
// the first attempt's start (later attempts placed by the clock) and the speaker the source tells for its span. A
// notice from the transcriber is shown once per session, however many attempts repeat it.
// run() executes on the caller's thread; stop() may be called from any other thread while run() waits.
class RunTranscriptionSession {
public:
    // Waits the delay; returns early when stop is requested. Tests inject a recording one.
    using Sleeper = std::function<void(std::chrono::nanoseconds, std::stop_token)>;
    // Wall-clock seconds, to time an attempt and place it in the session.
    using Clock = std::function<double()>;

    RunTranscriptionSession(std::shared_ptr<AudioSource> audioSource, std::shared_ptr<Transcriber> transcriber,
                            std::shared_ptr<OutputSink> sink, Sleeper sleeper = {}, Clock clock = {});

    // Runs attempts until the source ends for good, stop() or the token's stop, or giving up. Throws the last
    // error when it gives up after errors and when a finite source fails; returns normally otherwise.
    void run(std::stop_token stop = {});
    // Marks the session stopped (for good) and stops the source, which ends the running attempt.
    void stop();

    // The restart delay for k consecutive failures: 0.2 s doubling up to 2.0 s.
    static std::chrono::nanoseconds restartDelay(std::int64_t failures);

    static constexpr std::int64_t maxConsecutiveFailures = 5;
    // How long a gone source is waited for before the session gives up: a sound server restarting after a
    // suspend or a device change can take tens of seconds.
    static constexpr double maxOutageSeconds = 180.0;

    static constexpr const char* waitingNoticePrefix = "音声を取り込めなくなりました。戻りしだい自動で再開します…（";
    static constexpr const char* resumedNotice = "音声の取り込みを再開しました。";

private:
    // What one run() carries from attempt to attempt.
    struct SessionState {
        std::int64_t failures = 0;
        // While a gone source is waited for: when the wait began, and how many starts it has tried.
        bool waiting = false;
        double outageSince = 0;
        std::int64_t outageRetries = 0;
        // Segment times count from the start of their attempt's audio; lines count from the first attempt's.
        std::optional<double> sessionStart;
        std::set<std::string> shownNotices;
    };
    struct Attempt {
        std::exception_ptr error;
        bool sawSegment = false;
    };

    // Starts the source and forwards the transcriber's segments until either ends; the error it ended with.
    Attempt runAttempt(SessionState& state, double attemptOffset, std::stop_token stop);
    // Emits one segment as its event; true for a transcript, false for a notice.
    bool forward(SessionState& state, const TranscriptSegment& segment, double attemptOffset);
    // Waits before the next attempt of a continuous source after an error; rethrows it when giving up.
    void retryAfterFailure(SessionState& state, const std::exception_ptr& error, std::stop_token stop);
    // Waits before restarting a continuous source that ended; false when too many attempts ended at once.
    bool restartAfterEnd(SessionState& state, bool attemptWorked, std::stop_token stop);

    std::shared_ptr<AudioSource> m_audioSource;
    std::shared_ptr<Transcriber> m_transcriber;
    std::shared_ptr<OutputSink> m_sink;
    Sleeper m_sleeper;
    Clock m_clock;
    std::atomic<bool> m_stopRequested{false};
};

} // namespace tc
