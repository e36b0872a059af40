#include "TranscriptionApplication/RunTranscriptionSession.h"

#include "TranscriptionApplication/PortFailure.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace tc {

namespace {

void realSleep(std::chrono::nanoseconds delay, std::stop_token stop)
{
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, delay, [] { return false; });
}

double realClock()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return PortFailure::shownText(e);
    } catch (...) {
        return "不明なエラー";
    }
}

} // namespace

RunTranscriptionSession::RunTranscriptionSession(std::shared_ptr<AudioSource> audioSource,
                                                 std::shared_ptr<Transcriber> transcriber,
                                                 std::shared_ptr<OutputSink> sink, Sleeper sleeper, Clock clock)
    : m_audioSource(std::move(audioSource)), m_transcriber(std::move(transcriber)), m_sink(std::move(sink)),
      m_sleeper(sleeper ? std::move(sleeper) : Sleeper(realSleep)), m_clock(clock ? std::move(clock) : Clock(realClock))
{}

std::chrono::nanoseconds RunTranscriptionSession::restartDelay(std::int64_t failures)
{
    const auto k = std::clamp<std::int64_t>(failures, 1, 5);
    const double seconds = std::min(0.2 * std::pow(2.0, static_cast<double>(k - 1)), 2.0);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
}

void RunTranscriptionSession::run(std::stop_token stop)
{
    const bool continuous = m_audioSource->isContinuous();
    const auto ended = [&] { return m_stopRequested.load() || stop.stop_requested(); };
    SessionState state;
    while (true) {
        if (ended()) return;
        const double attemptStart = m_clock();
        if (!state.sessionStart) state.sessionStart = attemptStart;
        const Attempt attempt = runAttempt(state, attemptStart - *state.sessionStart, stop);
        m_audioSource->stop();

        if (attempt.error) {
            if (ended()) return;
            if (!continuous) {
                m_sink->emit(OutputEvent::failure("文字起こしが中断されました: " + describe(attempt.error)));
                std::rethrow_exception(attempt.error);
            }
            retryAfterFailure(state, attempt.error, stop);
            continue;
        }
        if (!continuous || ended()) return;
        if (!restartAfterEnd(state, attempt.sawSegment || m_clock() - attemptStart > 1.0, stop)) return;
    }
}

RunTranscriptionSession::Attempt RunTranscriptionSession::runAttempt(SessionState& state, double attemptOffset,
                                                                     std::stop_token stop)
{
    Attempt attempt;
    try {
        auto frames = m_audioSource->start();
        if (state.waiting) {
            state.waiting = false;
            m_sink->emit(OutputEvent::notice(resumedNotice));
        }
        auto segments = m_transcriber->transcribe(std::move(frames));
        try {
            while (auto segment = segments->next(stop))
                attempt.sawSegment |= forward(state, *segment, attemptOffset);
        } catch (...) {
            segments->cancel();
            throw;
        }
        // A stop request ends next() without draining: make sure the transcriber is told.
        segments->cancel();
    } catch (...) {
        attempt.error = std::current_exception();
    }
    return attempt;
}

bool RunTranscriptionSession::forward(SessionState& state, const TranscriptSegment& segment, double attemptOffset)
{
    if (segment.isNotice()) {
        // Every attempt of a continuous source starts the recognition again: say it once.
        if (state.shownNotices.insert(segment.text).second) m_sink->emit(OutputEvent::notice(segment.text));
        return false;
    }
    if (segment.isFinal()) {
        auto event =
            OutputEvent::finalizedTranscript(segment.text, attemptOffset + segment.start, attemptOffset + segment.end);
        event.speaker = m_audioSource->speakerBetween(segment.start, segment.end);
        m_sink->emit(event);
    } else {
        m_sink->emit(OutputEvent::volatileTranscript(segment.text));
    }
    return true;
}

void RunTranscriptionSession::retryAfterFailure(SessionState& state, const std::exception_ptr& error,
                                                std::stop_token stop)
{
    using Recovery = PortFailure::Recovery;
    const std::string description = describe(error);
    const auto giveUp = [&] {
        m_sink->emit(OutputEvent::failure("文字起こしを継続できないため停止しました: " + description));
        std::rethrow_exception(error);
    };
    const Recovery recovery = PortFailure::recoveryOf(error);
    if (recovery == Recovery::none) giveUp();
    if (recovery == Recovery::waitForReturn) {
        // Retrying quickly cannot help while the server is gone, and must not spend the restart budget.
        const double now = m_clock();
        if (!state.waiting) {
            state.waiting = true;
            state.outageSince = now;
            state.outageRetries = 0;
            m_sink->emit(OutputEvent::notice(waitingNoticePrefix + description + "）"));
        } else if (now - state.outageSince >= maxOutageSeconds) {
            giveUp();
        }
        m_sleeper(restartDelay(++state.outageRetries), stop);
        return;
    }
    if (++state.failures >= maxConsecutiveFailures) giveUp();
    m_sink->emit(OutputEvent::notice("文字起こしが中断されました。再開します…（" + description + "）"));
    m_sleeper(restartDelay(state.failures), stop);
}

bool RunTranscriptionSession::restartAfterEnd(SessionState& state, bool attemptWorked, std::stop_token stop)
{
    if (attemptWorked) {
        state.failures = 0;
    } else if (++state.failures >= maxConsecutiveFailures) {
        m_sink->emit(OutputEvent::failure("文字起こしを再開できないため停止しました。"));
        return false;
    }
    m_sink->emit(OutputEvent::notice("文字起こしを再開します…"));
    m_sleeper(restartDelay(std::max<std::int64_t>(state.failures, 1)), stop);
    return true;
}

void RunTranscriptionSession::stop()
{
    m_stopRequested = true;
    m_audioSource->stop();
}

} // namespace tc
