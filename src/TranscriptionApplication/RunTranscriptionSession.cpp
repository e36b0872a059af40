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
    using Recovery = PortFailure::Recovery;
    const bool continuous = m_audioSource->isContinuous();
    std::int64_t failures = 0;
    // While a gone source is waited for: when the wait began, and how many starts it has tried.
    bool waiting = false;
    double outageSince = 0;
    std::int64_t outageRetries = 0;
    const auto ended = [&] { return m_stopRequested.load() || stop.stop_requested(); };
    // Segment times count from the start of their attempt's audio; lines count from the first attempt's.
    std::optional<double> sessionStart;
    std::set<std::string> shownNotices;

    while (true) {
        if (ended()) return;
        const double attemptStart = m_clock();
        if (!sessionStart) sessionStart = attemptStart;
        const double attemptOffset = attemptStart - *sessionStart;

        std::exception_ptr error;
        bool sawSegment = false;
        try {
            auto frames = m_audioSource->start();
            if (waiting) {
                waiting = false;
                m_sink->emit(OutputEvent::notice(resumedNotice));
            }
            auto segments = m_transcriber->transcribe(std::move(frames));
            try {
                while (auto segment = segments->next(stop)) {
                    if (segment->isNotice()) {
                        // Every attempt of a continuous source starts the recognition again: say it once.
                        if (shownNotices.insert(segment->text).second) m_sink->emit(OutputEvent::notice(segment->text));
                        continue;
                    }
                    if (segment->isFinal()) {
                        auto event = OutputEvent::finalizedTranscript(segment->text, attemptOffset + segment->start,
                                                                      attemptOffset + segment->end);
                        event.speaker = m_audioSource->speakerBetween(segment->start, segment->end);
                        m_sink->emit(event);
                    } else {
                        m_sink->emit(OutputEvent::volatileTranscript(segment->text));
                    }
                    sawSegment = true;
                }
            } catch (...) {
                segments->cancel();
                throw;
            }
            // A stop request ends next() without draining: make sure the transcriber is told.
            segments->cancel();
        } catch (...) {
            error = std::current_exception();
        }
        m_audioSource->stop();

        if (error) {
            if (ended()) return;
            const std::string description = describe(error);
            if (!continuous) {
                m_sink->emit(OutputEvent::failure("文字起こしが中断されました: " + description));
                std::rethrow_exception(error);
            }
            const Recovery recovery = PortFailure::recoveryOf(error);
            if (recovery == Recovery::none) {
                m_sink->emit(OutputEvent::failure("文字起こしを継続できないため停止しました: " + description));
                std::rethrow_exception(error);
            }
            if (recovery == Recovery::waitForReturn) {
                // Retrying quickly cannot help while the server is gone, and must not spend the restart budget.
                const double now = m_clock();
                if (!waiting) {
                    waiting = true;
                    outageSince = now;
                    outageRetries = 0;
                    m_sink->emit(OutputEvent::notice(waitingNoticePrefix + description + "）"));
                } else if (now - outageSince >= maxOutageSeconds) {
                    m_sink->emit(OutputEvent::failure("文字起こしを継続できないため停止しました: " + description));
                    std::rethrow_exception(error);
                }
                m_sleeper(restartDelay(++outageRetries), stop);
                continue;
            }
            ++failures;
            if (failures < maxConsecutiveFailures) {
                m_sink->emit(OutputEvent::notice("文字起こしが中断されました。再開します…（" + description + "）"));
                m_sleeper(restartDelay(failures), stop);
                continue;
            }
            m_sink->emit(OutputEvent::failure("文字起こしを継続できないため停止しました: " + description));
            std::rethrow_exception(error);
        }

        if (!continuous || ended()) return;
        if (sawSegment || m_clock() - attemptStart > 1.0) {
            failures = 0;
        } else {
            ++failures;
            if (failures >= maxConsecutiveFailures) {
                m_sink->emit(OutputEvent::failure("文字起こしを再開できないため停止しました。"));
                return;
            }
        }
        m_sink->emit(OutputEvent::notice("文字起こしを再開します…"));
        m_sleeper(restartDelay(std::max<std::int64_t>(failures, 1)), stop);
    }
}

void RunTranscriptionSession::stop()
{
    m_stopRequested = true;
    m_audioSource->stop();
}

} // namespace tc
